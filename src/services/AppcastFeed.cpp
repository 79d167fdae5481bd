#include "services/AppcastFeed.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace quillby::appcast {

namespace {

const QString kSparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// A link from the feed is only followed when it is a web address.
QUrl webLink(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")) ||
        url.host().isEmpty()) {
        return {};
    }
    return url;
}

bool isSparkle(const QXmlStreamReader &reader)
{
    return reader.namespaceUri() == kSparkleNamespace || reader.qualifiedName().startsWith(QLatin1String("sparkle:"));
}

AppcastItem readItem(QXmlStreamReader &reader)
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
            for (const auto &attribute : reader.attributes()) {
                const bool sparkle = attribute.namespaceUri() == kSparkleNamespace ||
                                     attribute.qualifiedName().startsWith(QLatin1String("sparkle:"));
                if (sparkle && attribute.name() == QLatin1String("version") && item.version.isEmpty()) {
                    item.version = attribute.value().trimmed().toString();
                } else if (sparkle && attribute.name() == QLatin1String("shortVersionString") &&
                           item.shortVersion.isEmpty()) {
                    item.shortVersion = attribute.value().trimmed().toString();
                } else if (!sparkle && attribute.name() == QLatin1String("url")) {
                    enclosure = webLink(attribute.value().toString());
                }
            }
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (item.downloadLink.isEmpty()) {
        item.downloadLink = enclosure;
    }
    return item;
}

struct Token {
    enum Kind { number, text, separator } kind;
    QString value;
};

std::vector<Token> tokens(const QString &version)
{
    std::vector<Token> result;
    for (const QChar c : version) {
        const Token::Kind kind = c.isDigit() ? Token::number : c.isLetter() ? Token::text : Token::separator;
        if (!result.empty() && result.back().kind == kind && kind != Token::separator) {
            result.back().value.append(c);
        } else {
            result.push_back({kind, QString(c)});
        }
    }
    return result;
}

int compareNumbers(QString a, QString b)
{
    while (a.size() > 1 && a.startsWith(QLatin1Char('0'))) {
        a.remove(0, 1);
    }
    while (b.size() > 1 && b.startsWith(QLatin1Char('0'))) {
        b.remove(0, 1);
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

} // namespace

std::optional<std::vector<AppcastItem>> parse(const QByteArray &bytes)
{
    QXmlStreamReader reader(bytes);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("rss")) {
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
                AppcastItem item = readItem(reader);
                if (!item.version.isEmpty()) {
                    items.push_back(std::move(item));
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
    const auto left = tokens(a);
    const auto right = tokens(b);
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const Token &l = left[i];
        const Token &r = right[i];
        if (l.kind == r.kind) {
            const int order = l.kind == Token::number ? compareNumbers(l.value, r.value)
                              : l.kind == Token::text ? l.value.compare(r.value, Qt::CaseInsensitive)
                                                      : 0;
            if (order != 0) {
                return order < 0 ? -1 : 1;
            }
            continue;
        }
        // Different kinds at the same place: a number outranks a pre-release word ("1.0.1" is
        // after "1.0b"), and a separator followed by more release numbers outranks a word.
        if (l.kind == Token::text) {
            return -1;
        }
        if (r.kind == Token::text) {
            return 1;
        }
        return l.kind == Token::number ? 1 : -1;
    }
    if (left.size() == right.size()) {
        return 0;
    }
    // The longer one is newer unless what it adds starts with a pre-release word ("2.0b1").
    const bool leftLonger = left.size() > right.size();
    const auto &longer = leftLonger ? left : right;
    const bool onlyZeros = std::all_of(longer.begin() + static_cast<std::ptrdiff_t>(common), longer.end(), [](const Token &t) {
        return t.kind == Token::separator || (t.kind == Token::number && compareNumbers(t.value, QStringLiteral("0")) == 0);
    });
    if (onlyZeros) {
        return 0;   // "1.0" and "1.0.0" are the same release
    }
    std::size_t next = common;
    while (next < longer.size() && longer[next].kind == Token::separator) {
        ++next;
    }
    const bool preRelease = next < longer.size() && longer[next].kind == Token::text;
    const int longerIsNewer = preRelease ? -1 : 1;
    return leftLonger ? longerIsNewer : -longerIsNewer;
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
