// One libsmbclient context, set up for anonymous (guest) access with a timeout, and freed
// with the object. Used to ask an SMB server which shares it offers.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

struct _SMBCCTX;
class PMSmbLibrary;

class PMSmbContext {
public:
    explicit PMSmbContext(std::chrono::milliseconds timeout);
    ~PMSmbContext();
    PMSmbContext(const PMSmbContext &) = delete;
    PMSmbContext &operator=(const PMSmbContext &) = delete;

    // False when the library could not set up a context (errorText() says why).
    bool isValid() const { return m_context != nullptr; }
    QString errorText() const { return m_errorText; }

    // The names of the disk shares the server at address ("a.b.c.d" or "a.b.c.d:port")
    // offers, unsorted, including hidden ones; false with errorText set when it cannot be asked.
    bool listDiskShares(const QString &address, QStringList *shares, QString *errorText);

private:
    const PMSmbLibrary *m_library = nullptr;
    _SMBCCTX *m_context = nullptr;
    QString m_errorText;
};
