#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace quillby {

// One release offered by an update feed in the appcast format (RSS 2.0 with the Sparkle
// namespace): its machine version ("sparkle:version"), the version shown to people
// ("sparkle:shortVersionString"), the release-notes link and the download link.
struct AppcastItem {
    QString title;
    QString version;
    QString shortVersion;
    QUrl releaseNotesLink;
    QUrl downloadLink;   // the item's <link> page, else its enclosure

    QString displayVersion() const { return shortVersion.isEmpty() ? version : shortVersion; }
};

namespace appcast {

// The items of a feed that carry a version; nothing when the bytes are not an RSS feed.
std::optional<std::vector<AppcastItem>> parse(const QByteArray &bytes);

// Compares versions as release numbers ("1.10" after "1.9", "2.0b1" before "2.0"): negative,
// zero or positive like strcmp.
int compareVersions(const QString &a, const QString &b);

// The newest item, or nothing for an empty list.
std::optional<AppcastItem> newest(const std::vector<AppcastItem> &items);

} // namespace appcast
} // namespace quillby
