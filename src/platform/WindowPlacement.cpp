#include "platform/WindowPlacement.h"

#include <QGuiApplication>

namespace quillby {

bool canPlaceWindows()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace quillby
