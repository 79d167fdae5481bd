#include "core/ProductWebSite.h"

namespace quillby {

QUrl ProductWebSite::page(const QString &path, const QString &fragment) const
{
    QUrl url = address_;
    url.setPath(path);
    if (!fragment.isEmpty()) {
        url.setFragment(fragment);
    }
    return url;
}

} // namespace quillby
