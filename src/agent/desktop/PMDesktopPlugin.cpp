// The desktop plugin's entry point, loaded by an agent that has a display.
#include "agent/desktop/PMWidgetsDesktopFace.h"

extern "C" __attribute__((visibility("default"))) PMDesktopFace *pellmere_create_desktop_face()
{
    return new PMWidgetsDesktopFace();
}
