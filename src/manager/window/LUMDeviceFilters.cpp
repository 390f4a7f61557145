#include "manager/window/LUMDeviceFilters.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("LUMDeviceFilters", text);
}

} // namespace

QString LUMDeviceFilters::name(int filter)
{
    switch (filter) {
    case 1:
        return tr("Apple phones and tablets");
    case 2:
        return tr("All Apple devices");
    case 3:
        return tr("Apple computers and TV boxes");
    case 4:
        return tr("Older Apple devices");
    case 5:
        return tr("Android tablets");
    case 6:
        return tr("Kindle Fire");
    case 7:
        return tr("Kindle Fire HD");
    case 8:
        return tr("Windows RT tablets");
    default:
        return tr("Any device (no filter)");
    }
}

QString LUMDeviceFilters::toolTip(int filter)
{
    switch (filter) {
    case 1:
    case 3:
        return tr("Only media that Apple devices play well: video up to 720p at 30 frames per second.");
    case 2:
        return tr("Every media file an Apple device can open; some will not play on all devices.");
    case 4:
        return tr("Only media that older Apple devices play: video up to 480p at 30 frames per second.");
    case 5:
        return tr("Only media that Android tablets play.");
    case 6:
        return tr("Only media that the Kindle Fire plays.");
    case 7:
        return tr("Only media that the Kindle Fire HD plays.");
    case 8:
        return tr("Only media that Windows RT tablets play.");
    default:
        return tr("Every file of the chosen categories, whatever device it is for.");
    }
}
