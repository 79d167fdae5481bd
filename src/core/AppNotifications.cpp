#include "core/AppNotifications.h"

namespace quillby {

AppNotifications &AppNotifications::shared()
{
    static auto *notifications = new AppNotifications();
    return *notifications;
}

} // namespace quillby
