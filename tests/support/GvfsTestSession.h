// GVfs for a test: a session bus of the test's own (dbus-daemon --session, which starts
// gvfsd and with it gvfsd-fuse on demand) and a runtime folder of its own, whose gvfs/
// subfolder is where the FUSE mount shows mounted shares. environment() is what programs
// using this GVfs (gio) must run with. Everything is torn down by the destructor, and the bus
// dies with the test process.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class GvfsTestSession {
public:
    GvfsTestSession();
    ~GvfsTestSession();
    GvfsTestSession(const GvfsTestSession &) = delete;
    GvfsTestSession &operator=(const GvfsTestSession &) = delete;

    // Why GVfs cannot work here (a program or /dev/fuse missing, the bus not starting), or empty.
    QString error() const { return m_error; }
    QProcessEnvironment environment() const { return m_environment; }
    QString runtimeFolder() const { return m_folder.path(); }

private:
    void unmountFuse();
    QTemporaryDir m_folder;
    QProcess m_bus;
    qint64 m_group = 0;
    QProcessEnvironment m_environment;
    QString m_error;
};

} // namespace testsupport
