#include "polling/GlucoseAlertNotificationDelivering.h"

namespace quillby {

GlucoseAlertDeliveryError::GlucoseAlertDeliveryError(Case c, const std::string &detail) : AppError(detail), kind(c)
{
}

} // namespace quillby
