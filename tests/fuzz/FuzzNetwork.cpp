#include "FuzzNetwork.h"

#include <QMetaObject>
#include <QNetworkRequest>

#include <algorithm>
#include <cstring>

namespace quillby::fuzz {

namespace {

// A reply that is complete when it is made: status, headers and body, then readyRead and
// finished on the next event-loop turn, as a real reply would signal them.
class ScriptedNetworkReply final : public QNetworkReply {
public:
    ScriptedNetworkReply(QNetworkAccessManager::Operation operation, const QNetworkRequest &request,
                         const FuzzReply &reply, QObject *parent)
        : QNetworkReply(parent), body_(reply.body)
    {
        setOperation(operation);
        setRequest(request);
        setUrl(request.url());
        if (reply.error != QNetworkReply::NoError) {
            setError(reply.error, QStringLiteral("scripted transfer error"));
        }
        if (reply.status > 0) {
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, reply.status);
            for (const auto &header : reply.headers) {
                setRawHeader(header.first, header.second);
            }
        }
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        setFinished(true);
        QMetaObject::invokeMethod(
            this,
            [this, failed = reply.error != QNetworkReply::NoError, error = reply.error] {
                emit metaDataChanged();
                if (!body_.isEmpty()) {
                    emit readyRead();
                }
                if (failed) {
                    emit errorOccurred(error);
                }
                emit finished();
            },
            Qt::QueuedConnection);
    }

    void abort() override {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return body_.size() - offset_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min<qint64>(maxSize, body_.size() - offset_);
        if (count <= 0) {
            return offset_ >= body_.size() ? -1 : 0;
        }
        std::memcpy(data, body_.constData() + offset_, static_cast<size_t>(count));
        offset_ += count;
        return count;
    }

private:
    QByteArray body_;
    qint64 offset_ = 0;
};

std::optional<FuzzReply> parseSection(const QByteArray &section)
{
    if (section.trimmed() == "=") {
        return std::nullopt;
    }
    FuzzReply reply;
    qsizetype position = section.indexOf('\n');
    const QByteArray first = (position < 0 ? section : section.left(position)).trimmed();
    if (first.startsWith('E')) {
        bool ok = false;
        const int code = first.mid(1).toInt(&ok);
        // Only codes Qt defines: any other value is no NetworkError at all.
        static constexpr int kCodes[] = {1,   2,   3,   4,   5,   6,   7,   8,   99,  101, 102, 103, 104, 105, 199, 201,
                                         202, 203, 204, 205, 206, 207, 208, 299, 301, 302, 399, 401, 402, 403, 499};
        reply.status = 0;
        reply.error = QNetworkReply::UnknownNetworkError;
        for (const int known : kCodes) {
            if (ok && code == known) {
                reply.error = static_cast<QNetworkReply::NetworkError>(known);
            }
        }
    } else {
        bool ok = false;
        const int status = first.toInt(&ok);
        reply.status = ok ? status : 200;
    }
    if (position < 0) {
        return reply;
    }
    ++position;
    // Header lines up to an empty line, then the body; without an empty line all is body.
    const qsizetype blank = section.indexOf("\n\n", position - 1);
    if (blank >= position - 1 && blank >= 0) {
        for (const QByteArray &line : section.mid(position, blank - position + 1).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0) {
                reply.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
        }
        position = blank + 2;
    }
    reply.body = section.mid(position);
    return reply;
}

} // namespace

FuzzScript FuzzScript::parse(const QByteArray &input)
{
    FuzzScript script;
    qsizetype start = 0;
    while (start <= input.size()) {
        const qsizetype separator = input.indexOf("\n--\n", start);
        const QByteArray section = input.mid(start, separator < 0 ? -1 : separator - start);
        script.replies.push_back(parseSection(section));
        if (separator < 0 || script.replies.size() >= 16) {
            break;
        }
        start = separator + 4;
    }
    return script;
}

QNetworkReply *FuzzNetwork::createRequest(Operation operation, const QNetworkRequest &request, QIODevice *outgoingData)
{
    ++requests_;
    QByteArray method;
    switch (operation) {
    case GetOperation:
        method = "GET";
        break;
    case PostOperation:
        method = "POST";
        break;
    case PutOperation:
        method = "PUT";
        break;
    case DeleteOperation:
        method = "DELETE";
        break;
    case HeadOperation:
        method = "HEAD";
        break;
    default:
        method = request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray();
        break;
    }
    const QByteArray body = outgoingData ? outgoingData->readAll() : QByteArray();
    std::optional<FuzzReply> scripted;
    if (!script_.replies.empty()) {
        scripted = std::move(script_.replies.front());
        script_.replies.pop_front();
    }
    const FuzzReply reply = scripted ? *scripted : goodReply_(method, request.url().path(), body);
    return new ScriptedNetworkReply(operation, request, reply, this);
}

} // namespace quillby::fuzz
