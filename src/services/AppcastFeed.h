#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace quillby {

// One downloadable file of a release: its address, its stated length in bytes, its Ed25519
// signature ("sparkle:edSignature", standard Base64 of the 64 signature bytes, over the whole
// file) and the system it is built for ("sparkle:os", e.g. "linux-amd64"; empty when not stated).
struct AppcastEnclosure {
    QUrl url;               // https, or plain http to a loopback address
    qint64 length = -1;     // -1 when not stated or not a whole number
    QByteArray edSignature; // the 64 decoded bytes; empty when missing or not a signature
    QString os;
};

// One release offered by an update feed in the appcast format (RSS 2.0 with the Sparkle
// namespace): its machine version ("sparkle:version"), the version shown to people
// ("sparkle:shortVersionString"), the release-notes link and the download link.
struct AppcastItem {
    QString title;
    QString version;
    QString shortVersion;
    QUrl releaseNotesLink;   // https only
    QUrl downloadLink;       // the item's <link> page, else its enclosure; https only
    std::vector<AppcastEnclosure> enclosures;

    QString displayVersion() const { return shortVersion.isEmpty() ? version : shortVersion; }
};

namespace appcast {

// The items of a feed that carry a version; nothing when the bytes are not an RSS feed or
// carry a document type declaration (and with it entity declarations). Items whose version
// texts are long, span lines or hold control or format characters are left out. Every text is
// plain text; links that are not https web pages are dropped.
std::optional<std::vector<AppcastItem>> parse(const QByteArray &bytes);

// Compares versions as release numbers: negative, zero or positive like strcmp, and a total
// order. A version is a list of parts: runs of ASCII digits are numbers, runs of other
// characters except ASCII punctuation and spaces are words (ASCII letters compared without
// case). Missing parts count as 0, so "1" equals "1.0"; a word ranks below every number, so a
// pre-release comes before its release ("2.0b1" before "2.0", "1.0.0.0b1" before "1.0.0") and
// before the next release number ("1.0b" before "1.0.1"); "1.10" comes after "1.9".
int compareVersions(const QString &a, const QString &b);

// The enclosure of `item` for a Debian architecture ("amd64"): the one whose "sparkle:os" is
// "linux-<architecture>", else the only one that states no system; nothing otherwise.
std::optional<AppcastEnclosure> enclosureFor(const AppcastItem &item, const QString &architecture);

// The newest item, or nothing for an empty list.
std::optional<AppcastItem> newest(const std::vector<AppcastItem> &items);

} // namespace appcast
} // namespace quillby
