// Fuzzes the update feed reader. Reading never crashes or runs away with memory; every item it
// keeps has a short one-line version with nothing invisible in it, its links are https pages,
// and the newest item is not older than any other.

#include "FuzzSupport.h"

#include "services/AppcastFeed.h"

using namespace quillby;

namespace {

bool isPlainVersion(const QString &text)
{
    if (text.size() > 64) {
        return false;
    }
    for (const QChar c : text) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
            return false;
        }
    }
    return true;
}

bool isHttpsOrEmpty(const QUrl &url)
{
    return url.isEmpty() || (url.scheme() == QLatin1String("https") && !url.host().isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto items = appcast::parse(bytes);
    if (!items) {
        return 0;
    }
    for (const AppcastItem &item : *items) {
        FUZZ_CHECK(!item.version.isEmpty());
        FUZZ_CHECK(isPlainVersion(item.version));
        FUZZ_CHECK(isPlainVersion(item.shortVersion));
        FUZZ_CHECK(item.title.size() <= 256);
        FUZZ_CHECK(isHttpsOrEmpty(item.downloadLink));
        FUZZ_CHECK(isHttpsOrEmpty(item.releaseNotesLink));
    }
    const auto newest = appcast::newest(*items);
    FUZZ_CHECK(newest.has_value() == !items->empty());
    for (const AppcastItem &item : *items) {
        FUZZ_CHECK(appcast::compareVersions(newest->version, item.version) >= 0);
    }
    return 0;
}
