#include "netstorage/PMShareServiceError.h"

#include <QCoreApplication>

PMShareServiceError PMShareServiceError::noPublicShares()
{
    return { kDomain, kNoPublicShares,
        QCoreApplication::translate("Localizable",
            "No public shares were found. Check your network connection, check if SAMBA is not turned off in "
            "device settings and then try again.") };
}

PMShareServiceError PMShareServiceError::shareNotFound()
{
    return { kDomain, kShareNotFound, QCoreApplication::translate("Localizable", "SAMBA share not found or invalid.") };
}
