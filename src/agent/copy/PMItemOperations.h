// The plain item operations the copy engine performs for itself: move, remove, read and
// create links. Every failure is put to the handler's file-manager questions first, so an
// error reporter may repair it or decide to go on; its "yes" turns the failure into success.
//
//   PMItemOperations operations(handler);
//   if (!operations.moveItem(source, destination)) ...
//
// Links are never followed. Not copyable; one instance per operation, on the calling thread.
#pragma once

#include <QString>

#include <optional>

class PMCopyHandler;

class PMItemOperations {
public:
    explicit PMItemOperations(PMCopyHandler *handler)
        : m_handler(handler)
    {
    }
    PMItemOperations(const PMItemOperations &) = delete;
    PMItemOperations &operator=(const PMItemOperations &) = delete;

    // Renames source onto a destination that must not exist; across file systems the item is
    // copied and the source removed.
    bool moveItem(const QString &source, const QString &destination);
    // Moves a file or link onto an existing file or link in one step (rename replaces it), so
    // the destination is never missing in between; across file systems the old item is
    // removed and the source moved.
    bool replaceItem(const QString &source, const QString &destination);
    // Removes a file, link or whole folder tree.
    bool removeItem(const QString &path);
    // Creates a symbolic link at path holding text; `source` names the link being copied.
    bool createSymbolicLink(const QString &path, const QString &text, const QString &source);

    // Whether the handler answered "do not go on" to a failure: the caller's work must stop.
    bool handlerRefused() const { return m_refused; }

    // The text of the link at path, or a null string when path is not a link.
    static QString linkText(const QString &path);

private:
    bool askMoving(int errorNumber, const QString &source, const QString &destination);
    bool noteAnswer(const std::optional<bool> &answer);

    PMCopyHandler *m_handler;
    bool m_refused = false;
};
