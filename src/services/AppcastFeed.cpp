#include "services/AppcastFeed.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace quillby::appcast {

namespace {

const QString kSparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// Bounds on what one item may carry. A real version is a few characters and a title a line;
// anything longer is not a release this program can offer.
constexpr qsizetype kMaximumVersionLength = 64;
constexpr qsizetype kMaximumTitleLength = 256;
constexpr qsizetype kMaximumLinkLength = 2048;

// A link from the feed is only offered when it is a secure web page.
QUrl webLink(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() > kMaximumLinkLength) {
        return {};
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        return {};
    }
    return url;
}

// A version as people read it: short, on one line, with nothing invisible in it.
bool isPlainVersionText(const QString &text)
{
    if (text.size() > kMaximumVersionLength) {
        return false;
    }
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        const auto category = c.category();
        return category == QChar::Other_Control || category == QChar::Other_Format ||
               category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
    });
}

// "localhost", "::1" or an IPv4 address in 127.0.0.0/8, written out in full.
bool isLoopbackHost(const QString &host)
{
    if (host == QLatin1String("localhost") || host == QLatin1String("::1")) {
        return true;
    }
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts.constFirst() != QLatin1String("127")) {
        return false;
    }
    return std::all_of(parts.begin(), parts.end(), [](const QString &part) {
        bool ok = false;
        const int value = part.toInt(&ok);
        return ok && part.size() <= 3 && value >= 0 && value <= 255 &&
               std::all_of(part.begin(), part.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    });
}

// A file's address: a secure web address, or plain http to this machine (local test servers).
QUrl fileLink(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() > kMaximumLinkLength) {
        return {};
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        return {};
    }
    const bool secure = url.scheme() == QLatin1String("https");
    const bool local = url.scheme() == QLatin1String("http") && isLoopbackHost(url.host());
    return secure || local ? url : QUrl();
}

QByteArray signatureBytes(QStringView text)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 64 ? decoded.decoded : QByteArray();
}

bool isSparkle(const QXmlStreamReader &reader)
{
    return reader.namespaceUri() == kSparkleNamespace || reader.qualifiedName().startsWith(QLatin1String("sparkle:"));
}

// The item, or nothing when one of its texts is not one a release would have.
std::optional<AppcastItem> readItem(QXmlStreamReader &reader)
{
    AppcastItem item;
    QUrl enclosure;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (isSparkle(reader)) {
            if (name == QLatin1String("version")) {
                item.version = reader.readElementText().trimmed();
            } else if (name == QLatin1String("shortVersionString")) {
                item.shortVersion = reader.readElementText().trimmed();
            } else if (name == QLatin1String("releaseNotesLink")) {
                item.releaseNotesLink = webLink(reader.readElementText());
            } else {
                reader.skipCurrentElement();
            }
        } else if (name == QLatin1String("title")) {
            item.title = reader.readElementText().trimmed();
        } else if (name == QLatin1String("link")) {
            item.downloadLink = webLink(reader.readElementText());
        } else if (name == QLatin1String("enclosure")) {
            AppcastEnclosure file;
            for (const auto &attribute : reader.attributes()) {
                const bool sparkle = attribute.namespaceUri() == kSparkleNamespace ||
                                     attribute.qualifiedName().startsWith(QLatin1String("sparkle:"));
                if (sparkle && attribute.name() == QLatin1String("version") && item.version.isEmpty()) {
                    item.version = attribute.value().trimmed().toString();
                } else if (sparkle && attribute.name() == QLatin1String("shortVersionString") &&
                           item.shortVersion.isEmpty()) {
                    item.shortVersion = attribute.value().trimmed().toString();
                } else if (sparkle && attribute.name() == QLatin1String("edSignature")) {
                    file.edSignature = signatureBytes(attribute.value());
                } else if (sparkle && attribute.name() == QLatin1String("os")) {
                    file.os = attribute.value().trimmed().left(kMaximumVersionLength).toString();
                } else if (!sparkle && attribute.name() == QLatin1String("url")) {
                    if (enclosure.isEmpty()) {
                        enclosure = webLink(attribute.value().toString());
                    }
                    file.url = fileLink(attribute.value().toString());
                } else if (!sparkle && attribute.name() == QLatin1String("length")) {
                    bool ok = false;
                    const qint64 length = attribute.value().trimmed().toLongLong(&ok);
                    file.length = ok && length >= 0 ? length : -1;
                }
            }
            if (!file.url.isEmpty()) {
                item.enclosures.push_back(std::move(file));
            }
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (item.downloadLink.isEmpty()) {
        item.downloadLink = enclosure;
    }
    if (!isPlainVersionText(item.version) || !isPlainVersionText(item.shortVersion) ||
        item.title.size() > kMaximumTitleLength) {
        return std::nullopt;
    }
    return item;
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// ASCII punctuation, spaces and controls only separate parts.
bool isSeparator(QChar c)
{
    return c.unicode() < 0x80 && !isAsciiDigit(c) && !isAsciiLetter(c);
}

char16_t folded(QChar c)
{
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z') ? static_cast<char16_t>(c.unicode() + 0x20) : c.unicode();
}

// One part of a version: a release number (a run of ASCII digits, leading zeros dropped) or a
// word (a run of anything else that is not a separator).
struct Part {
    bool isNumber = true;
    QStringView text = u"0";
};

// Walks a version's parts from the left.
class Parts {
public:
    explicit Parts(QStringView version) : version_(version) {}

    // The next part, or nothing when the version has no more.
    std::optional<Part> next()
    {
        while (position_ < version_.size() && isSeparator(version_[position_])) {
            ++position_;
        }
        if (position_ == version_.size()) {
            return std::nullopt;
        }
        const qsizetype start = position_;
        const bool number = isAsciiDigit(version_[start]);
        while (position_ < version_.size() && !isSeparator(version_[position_]) &&
               isAsciiDigit(version_[position_]) == number) {
            ++position_;
        }
        QStringView text = version_.sliced(start, position_ - start);
        while (number && text.size() > 1 && text.front() == QLatin1Char('0')) {
            text = text.sliced(1);
        }
        return Part{number, text};
    }

private:
    QStringView version_;
    qsizetype position_ = 0;
};

int compareUnits(QStringView a, QStringView b, bool fold)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t l = fold ? folded(a[i]) : a[i].unicode();
        const char16_t r = fold ? folded(b[i]) : b[i].unicode();
        if (l != r) {
            return l < r ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// Words rank below every number: "1.0b2" comes before "1.0" (a missing part counts as 0) and
// before "1.0.1". Numbers compare by value, words by their characters with ASCII letters
// folded to lower case.
int compareParts(const Part &a, const Part &b)
{
    if (a.isNumber != b.isNumber) {
        return a.isNumber ? 1 : -1;
    }
    if (a.isNumber && a.text.size() != b.text.size()) {
        return a.text.size() < b.text.size() ? -1 : 1;
    }
    return compareUnits(a.text, b.text, !a.isNumber);
}

} // namespace

std::optional<std::vector<AppcastItem>> parse(const QByteArray &bytes)
{
    QXmlStreamReader reader(bytes);
    // An update feed has no document type declaration: refusing one refuses every entity
    // declaration, and so every entity expansion, before any text is read.
    while (!reader.atEnd() && !reader.isStartElement()) {
        if (reader.readNext() == QXmlStreamReader::DTD) {
            return std::nullopt;
        }
    }
    if (!reader.isStartElement() || reader.name() != QLatin1String("rss")) {
        return std::nullopt;
    }
    std::vector<AppcastItem> items;
    bool sawChannel = false;
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("channel")) {
            reader.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (reader.readNextStartElement()) {
            if (reader.name() == QLatin1String("item")) {
                std::optional<AppcastItem> item = readItem(reader);
                if (item && !item->version.isEmpty()) {
                    items.push_back(std::move(*item));
                }
            } else {
                reader.skipCurrentElement();
            }
        }
    }
    if (reader.hasError() || !sawChannel) {
        return std::nullopt;
    }
    return items;
}

int compareVersions(const QString &a, const QString &b)
{
    Parts left(a);
    Parts right(b);
    while (true) {
        const std::optional<Part> l = left.next();
        const std::optional<Part> r = right.next();
        if (!l && !r) {
            return 0;
        }
        if (const int order = compareParts(l.value_or(Part{}), r.value_or(Part{})); order != 0) {
            return order;
        }
    }
}

std::optional<AppcastEnclosure> enclosureFor(const AppcastItem &item, const QString &architecture)
{
    const QString wanted = QStringLiteral("linux-") + architecture;
    std::optional<AppcastEnclosure> unstated;
    int unstatedCount = 0;
    for (const auto &file : item.enclosures) {
        if (file.os == wanted) {
            return file;
        }
        if (file.os.isEmpty()) {
            unstated = file;
            ++unstatedCount;
        }
    }
    return unstatedCount == 1 ? unstated : std::nullopt;
}

std::optional<AppcastItem> newest(const std::vector<AppcastItem> &items)
{
    std::optional<AppcastItem> best;
    for (const auto &item : items) {
        if (!best || compareVersions(item.version, best->version) > 0) {
            best = item;
        }
    }
    return best;
}

} // namespace quillby::appcast
