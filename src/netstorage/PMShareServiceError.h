// The errors of share listing and mounting that are shown to the user: their domain and codes
// are those the rest of the system (and the alert texts) know them by.
#pragma once

#include <QString>

struct PMShareServiceError {
    static inline const QString kDomain = QStringLiteral("com.corvane.shareservicesdomain");
    static constexpr int kNoPublicShares = 10001;
    static constexpr int kShareNotFound = 10002;

    QString domain;
    int code = 0;
    QString message; // localized, shown as it is

    bool isNull() const { return code == 0; }

    static PMShareServiceError noPublicShares();
    static PMShareServiceError shareNotFound();
};
