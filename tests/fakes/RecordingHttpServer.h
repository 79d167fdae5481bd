#pragma once

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace quillby::test {

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target; // the request target exactly as sent (path and query, still encoded)
    std::string path;   // without the query
    std::string query;  // raw text after "?", empty when none
    std::multimap<std::string, std::string> params;   // the query's items, decoded
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first header of that name, compared without regard to case.
    std::optional<std::string> header(const std::string &name) const;
    bool hasHeader(const std::string &name) const { return header(name).has_value(); }
    // The first query item of that name.
    std::optional<std::string> param(const std::string &name) const;
    nlohmann::json json() const { return nlohmann::json::parse(body); }
};

// A reply a test scripts for one path.
struct ScriptedReply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;   // e.g. Retry-After, Location
    std::string contentType = "application/json";
    double delaySeconds = 0;   // the reply is held back this long (cut short when the server stops)
    // When set, the headers announce the whole body but the connection closes after this many
    // body bytes: a transfer cut short after the status line.
    std::optional<std::size_t> cutAfterBytes;
    bool chunked = false;   // sent with chunked transfer coding (no Content-Length)

    static ScriptedReply json(int status, const nlohmann::json &body);
    static ScriptedReply text(int status, std::string body, std::string contentType = "text/plain");
    // This reply, but the connection closes after `bytes` bytes of its body.
    ScriptedReply cutShortAfter(std::size_t bytes) &&;
};

// An HTTP server on 127.0.0.1 (random port) running on its own thread. It records every
// request. A reply queued for a path answers the next request to that path once; otherwise
// the subclass answers like the real service would.
class RecordingHttpServer {
public:
    RecordingHttpServer();
    virtual ~RecordingHttpServer();
    RecordingHttpServer(const RecordingHttpServer &) = delete;
    RecordingHttpServer &operator=(const RecordingHttpServer &) = delete;

    void start();
    void stop();
    int port() const { return port_; }
    std::string origin() const;   // "http://127.0.0.1:<port>"

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requests(const std::string &path) const;
    std::size_t requestCount(const std::string &path) const { return requests(path).size(); }
    void clearRequests();

    // Answers the next request to `path` with `reply` (one-shot; several queue up in order).
    void enqueueReply(const std::string &path, ScriptedReply reply);
    // Drops every scripted reply not yet used.
    void clearScriptedReplies();
    // Holds back every reply this long.
    void setDelay(double seconds);

protected:
    // The service's own answer. Called with the server's lock held (state may be read freely).
    virtual ScriptedReply respond(const RecordedRequest &request) = 0;
    // Sees every request, scripted or not, before it is answered (lock held).
    virtual void observe(const RecordedRequest &request) { (void)request; }
    mutable std::mutex mutex_;

private:
    void handle(const httplib::Request &request, httplib::Response &response);
    bool waitOrStop(double seconds);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    bool stopping_ = false;
    double delay_ = 0;
    std::condition_variable stopSignal_;
    std::vector<RecordedRequest> requests_;
    std::map<std::string, std::deque<ScriptedReply>> scripted_;
};

} // namespace quillby::test
