// The error a file copy agent hands its delegate when one item of a copy fails: the errno
// value of the failure and the source and destination paths of the failing item.
#pragma once

#include <QString>
#include <QVariantMap>

struct PMFileCopyError {
    static inline const QString kDomain = QStringLiteral("com.corvane.FileCopyAgentDomain");
    // User-info keys; the error reporters read them to name the failing item.
    static inline const QString PMFileCopyFromPathKey
        = QStringLiteral("com.corvane.FileCopyAgent.PMFileCopyFromPathKey");
    static inline const QString PMFileCopyToPathKey = QStringLiteral("com.corvane.FileCopyAgent.PMFileCopyToPathKey");

    QString domain = kDomain;
    int code = 0; // errno
    QVariantMap userInfo;

    QString fromPath() const { return userInfo.value(PMFileCopyFromPathKey).toString(); }
    QString toPath() const { return userInfo.value(PMFileCopyToPathKey).toString(); }
};
