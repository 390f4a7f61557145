#include "manager/volumes/LUMCapacityText.h"

#include <QLocale>

#include <gtest/gtest.h>

TEST(LUMCapacityText, TheTotalChoosesOneUnitForBothNumbers)
{
    QLocale::setDefault(QLocale::c());
    constexpr quint64 KB = 1024;
    constexpr quint64 MB = KB * KB;
    constexpr quint64 GB = MB * KB;
    constexpr quint64 TB = GB * KB;
    struct Case {
        quint64 freeBytes;
        quint64 totalBytes;
        const char *text;
    };
    const Case cases[] = {
        { 0, 0, "0 bytes free of 0 bytes" },
        { 512, 1023, "512 bytes free of 1023 bytes" },
        { 512, KB, "0.50 KB free of 1.00 KB" },
        { 1000, MB - 1, "0.98 KB free of 1024.00 KB" },
        { 100 * KB, MB, "0.10 MB free of 1.00 MB" },
        { 3 * MB / 2, GB - MB, "1.50 MB free of 1023.00 MB" },
        { 14 * GB + GB / 2, 30 * GB, "14.50 GB free of 30.00 GB" },
        { GB, 3 * TB, "0.00 TB free of 3.00 TB" },
        { 5 * TB, 2048 * TB, "5.00 TB free of 2048.00 TB" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(LUMCapacityText::format(c.freeBytes, c.totalBytes).toStdString(), c.text)
            << c.freeBytes << " of " << c.totalBytes;
}
