// The device filter choices of the window's pop-up: 0 (no filter) and the device classes
// 1 to 8, each with a name and a tool tip saying what passes.
//
// Stateless; main thread (translated texts).
#pragma once

#include <QString>

class LUMDeviceFilters {
public:
    static constexpr int kCount = 9;
    static QString name(int filter);
    static QString toolTip(int filter);
};
