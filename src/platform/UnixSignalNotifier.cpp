#include "platform/UnixSignalNotifier.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

Q_LOGGING_CATEGORY(lcSignals, "pellmere.signals")

namespace platform {

namespace {

int g_pipe[2] = { -1, -1 };
std::array<struct sigaction, 65> g_previous = {};

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

UnixSignalNotifier::UnixSignalNotifier(const QList<int> &signalNumbers, QObject *parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcSignals) << "cannot set up signal handling";
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1)
            Q_EMIT signalReceived(int(byte));
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_valid = true;
    for (int number : m_signals) {
        if (number <= 0 || number >= int(g_previous.size())
            || sigaction(number, &action, &g_previous[size_t(number)]) != 0) {
            qCWarning(lcSignals) << "cannot handle signal" << number;
            m_valid = false;
        }
    }
}

UnixSignalNotifier::~UnixSignalNotifier()
{
    for (int number : m_signals)
        if (number > 0 && number < int(g_previous.size()))
            sigaction(number, &g_previous[size_t(number)], nullptr);
    m_notifier.reset();
    for (int &fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace platform
