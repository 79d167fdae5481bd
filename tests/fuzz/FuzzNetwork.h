#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <deque>
#include <functional>
#include <string>
#include <utility>

namespace quillby::fuzz {

// One reply of the fake network: an HTTP status (0: the transfer failed with `error` and no
// status), raw headers and the body.
struct FuzzReply {
    int status = 200;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray body;
};

// Splits a fuzz input into the replies of successive requests. Sections are separated by a line
// "--"; a section is a first line with the status (a number; anything else means 200, and
// "E<code>" a transfer error with that Qt error code), header lines "Name: value" up to an empty
// line, then the body. A section that is just "=" stands for the service's usual good reply.
// Requests after the last section get the usual good reply too.
struct FuzzScript {
    std::deque<std::optional<FuzzReply>> replies;   // nothing: the usual good reply

    static FuzzScript parse(const QByteArray &input);
};

// A network access manager that answers every request at once from a script, without any
// socket. `goodReply` gives the usual reply for a request (by method, path and body).
class FuzzNetwork final : public QNetworkAccessManager {
public:
    using GoodReply = std::function<FuzzReply(const QByteArray &method, const QString &path, const QByteArray &body)>;

    explicit FuzzNetwork(GoodReply goodReply) : goodReply_(std::move(goodReply)) {}

    void setScript(FuzzScript script)
    {
        script_ = std::move(script);
        requests_ = 0;
    }
    int requests() const { return requests_; }

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request, QIODevice *outgoingData) override;

private:
    GoodReply goodReply_;
    FuzzScript script_;
    int requests_ = 0;
};

} // namespace quillby::fuzz
