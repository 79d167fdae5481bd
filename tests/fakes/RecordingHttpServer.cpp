#include "fakes/RecordingHttpServer.h"

#include <httplib.h>

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
    response.set_content(reply.body, reply.contentType);
}

} // namespace quillby::test
