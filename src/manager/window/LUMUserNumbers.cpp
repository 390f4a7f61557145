#include "manager/window/LUMUserNumbers.h"

#include <QCoreApplication>
#include <QLocale>

QString LUMUserNumbers::format(quint64 bytes)
{
    const QLocale locale;
    constexpr quint64 kKB = 1024;
    constexpr quint64 kMB = kKB * 1024;
    constexpr quint64 kGB = kMB * 1024;
    constexpr quint64 kTB = kGB * 1024;
    QString text;
    if (bytes < kKB) {
        text = QCoreApplication::translate("LUMUserNumbers", "%1 bytes", "sbFormat").arg(locale.toString(bytes));
    } else if (bytes < kMB) {
        text = QCoreApplication::translate("LUMUserNumbers", "%1 KB", "KBFormat")
                   .arg(locale.toString(double(bytes) / double(kKB), 'f', 1));
    } else if (bytes < kGB) {
        text = QCoreApplication::translate("LUMUserNumbers", "%1 MB", "MBFormat")
                   .arg(locale.toString(double(bytes) / double(kMB), 'f', 1));
    } else if (bytes < kTB) {
        text = QCoreApplication::translate("LUMUserNumbers", "%1 GB", "GBFormat")
                   .arg(locale.toString(double(bytes) / double(kGB), 'f', 2));
    } else {
        text = QCoreApplication::translate("LUMUserNumbers", "%1 TB", "TBFormat")
                   .arg(locale.toString(double(bytes) / double(kTB), 'f', 2));
    }
    return text.trimmed();
}
