#include "fakes/RecordingHttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <strings.h>

namespace quillby::test {

std::optional<std::string> RecordedRequest::header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<std::string> RecordedRequest::param(const std::string &name) const
{
    const auto found = params.find(name);
    return found == params.end() ? std::nullopt : std::optional<std::string>(found->second);
}

ScriptedReply ScriptedReply::cutShortAfter(std::size_t bytes) &&
{
    cutAfterBytes = bytes;
    return std::move(*this);
}

ScriptedReply ScriptedReply::json(int status, const nlohmann::json &body)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = body.dump();
    return reply;
}

ScriptedReply ScriptedReply::text(int status, std::string body, std::string contentType)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.contentType = std::move(contentType);
    return reply;
}

RecordingHttpServer::RecordingHttpServer() : server_(std::make_unique<httplib::Server>()) {}

RecordingHttpServer::~RecordingHttpServer()
{
    stop();
}

void RecordingHttpServer::start()
{
    const auto handler = [this](const httplib::Request &request, httplib::Response &response) {
        handle(request, response);
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    server_->Put(".*", handler);
    server_->Delete(".*", handler);
    server_->set_tcp_nodelay(true);   // no 40 ms Nagle stalls between a client's requests
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("fake server could not bind to 127.0.0.1");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void RecordingHttpServer::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

std::string RecordingHttpServer::origin() const
{
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<RecordedRequest> RecordingHttpServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> RecordingHttpServer::requests(const std::string &path) const
{
    std::lock_guard lock(mutex_);
    std::vector<RecordedRequest> matching;
    for (const auto &request : requests_) {
        if (request.path == path) {
            matching.push_back(request);
        }
    }
    return matching;
}

void RecordingHttpServer::clearRequests()
{
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void RecordingHttpServer::enqueueReply(const std::string &path, ScriptedReply reply)
{
    std::lock_guard lock(mutex_);
    scripted_[path].push_back(std::move(reply));
}

void RecordingHttpServer::clearScriptedReplies()
{
    std::lock_guard lock(mutex_);
    scripted_.clear();
}

void RecordingHttpServer::setDelay(double seconds)
{
    std::lock_guard lock(mutex_);
    delay_ = seconds;
}

bool RecordingHttpServer::waitOrStop(double seconds)
{
    if (seconds <= 0) {
        return true;
    }
    std::unique_lock lock(mutex_);
    return !stopSignal_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

void RecordingHttpServer::handle(const httplib::Request &request, httplib::Response &response)
{
    RecordedRequest recorded;
    recorded.method = request.method;
    recorded.target = request.target;
    recorded.path = request.path;
    const auto question = request.target.find('?');
    if (question != std::string::npos) {
        recorded.query = request.target.substr(question + 1);
    }
    for (const auto &[key, value] : request.headers) {
        recorded.headers.emplace_back(key, value);
    }
    for (const auto &[key, value] : request.params) {
        recorded.params.emplace(key, value);
    }
    recorded.body = request.body;

    ScriptedReply reply;
    double delay = 0;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(recorded);
        observe(recorded);
        auto &queue = scripted_[recorded.path];
        if (!queue.empty()) {
            reply = std::move(queue.front());
            queue.pop_front();
        } else {
            reply = respond(recorded);
        }
        delay = delay_ + reply.delaySeconds;
    }
    if (!waitOrStop(delay)) {
        response.status = 503;
        return;
    }
    response.status = reply.status;
    for (const auto &[key, value] : reply.headers) {
        response.set_header(key, value);
    }
    if (!reply.cutAfterBytes && !reply.chunked) {
        response.set_content(reply.body, reply.contentType);
        return;
    }
    // A provider that fails after `cut` bytes makes the server close the connection there,
    // though Content-Length (or the chunk coding) announced more.
    const auto body = std::make_shared<std::string>(std::move(reply.body));
    const std::size_t cut = std::min(reply.cutAfterBytes.value_or(body->size()), body->size());
    if (reply.chunked) {
        response.set_chunked_content_provider(reply.contentType, [body, cut](std::size_t offset, httplib::DataSink &sink) {
            if (offset < cut) {
                return sink.write(body->data() + offset, std::min<std::size_t>(cut - offset, 64 * 1024));
            }
            if (cut < body->size()) {
                return false;
            }
            sink.done();
            return true;
        });
        return;
    }
    response.set_content_provider(body->size(), reply.contentType,
                                  [body, cut](std::size_t offset, std::size_t, httplib::DataSink &sink) {
                                      if (offset < cut) {
                                          sink.write(body->data() + offset, cut - offset);
                                      }
                                      return false;
                                  });
}

} // namespace quillby::test
