// Turns POSIX signals (SIGINT, SIGTERM) into a Qt signal on the thread that owns the
// notifier, through a self-pipe: the handler itself only writes one byte, which is all a
// signal handler may safely do.
//
//   platform::UnixSignalNotifier signals({SIGINT, SIGTERM});
//   connect(&signals, &UnixSignalNotifier::signalReceived, this, [](int s) { ... });
//
// One instance per process at a time; destroying it restores the previous handlers.
#pragma once

#include <QList>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace platform {

class UnixSignalNotifier : public QObject {
    Q_OBJECT

public:
    explicit UnixSignalNotifier(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~UnixSignalNotifier() override;

    // False when the pipe or a handler could not be installed (logged).
    bool isValid() const { return m_valid; }

Q_SIGNALS:
    void signalReceived(int signalNumber);

private:
    QList<int> m_signals;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_valid = false;
};

} // namespace platform
