// The tool tips of the four category switches (music, movies, pictures, documents): which
// file types a sync takes for the drive's device filter. Each is a translatable format
// (context "Localizable", the key as disambiguation) filled with the filter's type list.
//
//   label->setToolTip(LUMCategoryToolTips::music(deviceFilter));
//
// Pure functions; any thread (translation needs the application's translators installed).
#pragma once

#include <QString>

class LUMCategoryToolTips {
public:
    static QString music(qint32 deviceFilter);
    static QString movies(qint32 deviceFilter);
    static QString pictures(qint32 deviceFilter);
    static QString documents(qint32 deviceFilter);
};
