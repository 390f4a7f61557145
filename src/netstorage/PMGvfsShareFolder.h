// The name GVfs gives the FUSE folder of a mounted SMB share, below $XDG_RUNTIME_DIR/gvfs:
//
//   smb-share:port=4445,server=192.168.1.20,share=public
//
// a mount kind, then comma-separated key=value pairs whose values are percent-escaped. GVfs
// writes the share name in lower case and the port only when it is not the default one.
#pragma once

#include <QString>

#include <optional>

class PMGvfsShareFolder {
public:
    // The SMB share a folder name stands for; nullopt for any other name (other mount kinds,
    // missing server or share, a malformed port).
    static std::optional<PMGvfsShareFolder> parse(const QString &folderName);

    QString server() const { return m_server; }
    QString share() const { return m_share; }
    int port() const { return m_port; } // 0 for the default port

    // "server" or "server:port", as devices are addressed.
    QString hostText() const;
    // "server[:port]/share".
    QString networkAddress() const;
    // "smb://server[:port]/share", the location GVfs mounts and unmounts.
    QString url() const;

private:
    QString m_server;
    QString m_share;
    int m_port = 0;
};
