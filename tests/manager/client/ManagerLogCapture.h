// Collects the manager's log lines (category "pellmere.manager") while it exists, so tests
// can check what the client reported. One at a time; main thread.
#pragma once

#include <QString>
#include <QStringList>

namespace testsupport {

class ManagerLogCapture {
public:
    ManagerLogCapture();
    ~ManagerLogCapture();
    ManagerLogCapture(const ManagerLogCapture &) = delete;
    ManagerLogCapture &operator=(const ManagerLogCapture &) = delete;

    QStringList lines() const;
    bool contains(const QString &text) const;
    void clear();
};

} // namespace testsupport
