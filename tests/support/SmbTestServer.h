// An SMB server of the test's own: smbd on 127.0.0.1 and a port of its own (never 445, never
// another interface, no NetBIOS), configured entirely below a temporary folder, with
//   - "Public": a guest-writable disk share of shareFolder(), and "Archive", a read-only one
//     (defined after it, so that a sorted listing differs from the server's order),
//   - "Hidden$": a hidden disk share, and "Printers": a printer share, which a listing of
//     public disk shares must leave out.
// smbd runs in a process group of its own that dies with the test process and is stopped by
// stop() or the destructor.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>

namespace testsupport {

class SmbTestServer {
public:
    SmbTestServer();
    ~SmbTestServer();
    SmbTestServer(const SmbTestServer &) = delete;
    SmbTestServer &operator=(const SmbTestServer &) = delete;

    // Why the server is not running (smbd missing or failed to start), or empty.
    QString error() const { return m_error; }
    bool isRunning() const { return m_error.isEmpty() && m_smbd.state() != QProcess::NotRunning; }

    // "127.0.0.1:port", as devices are addressed.
    QString host() const;
    int port() const { return m_port; }
    static QString publicShare() { return QStringLiteral("Public"); }
    // The folder the server shows as the public share.
    QString shareFolder() const;

    // Stops smbd and every process it started; answers once they are gone.
    void stop();
    // Kills smbd and its helpers at once, as a device that loses power; any thread (the
    // fixture's stop() or destructor reaps them).
    void kill() const;

private:
    bool writeConfiguration();
    QTemporaryDir m_folder;
    QProcess m_smbd;
    std::atomic<qint64> m_group { 0 };
    int m_port = 0;
    QString m_error;
};

} // namespace testsupport
