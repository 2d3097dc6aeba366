#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "request_parser.h"
#include "text.h"

namespace standin {
namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Whole milliseconds, rounded up: a wait of that long never ends before the deadline.
long long MsUntil(Clock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

bool SendAll(int socket, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

std::string ResponseHead(const HttpResponse& response, size_t contentLength) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) + "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    head += "Cache-Control: no-store\r\n";
    head += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    return head;
}

std::string ErrorAnswer(int status) {
    HttpResponse response;
    response.status = status;
    response.body = StatusText(status) + "\n";
    return ResponseHead(response, response.body.size()) + response.body;
}

std::string PeerName(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
    }
    return text;
}

}  // namespace

std::string StatusText(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 303: return "See Other";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 413: return "Payload Too Large";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 414: return "URI Too Long";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        case 505: return "HTTP Version Not Supported";
        default: return "Status " + std::to_string(status);
    }
}

std::string HttpRequest::Header(const std::string& name) const {
    const std::string wanted = Lower(name);
    for (const auto& [n, v] : headers) {
        if (Lower(n) == wanted) return v;
    }
    return std::string();
}

HttpServer::HttpServer(Handler handler, ServerLimits limits) : handler_(std::move(handler)), limits_(limits) {}

HttpServer::~HttpServer() {
    if (listener_ >= 0) close(listener_);
    for (int fd : wakePipe_) {
        if (fd >= 0) close(fd);
    }
}

bool HttpServer::Listen(const std::string& host, int port, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        *error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    std::string lastError = "no address";
    for (addrinfo* a = found; a && listener_ < 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) { lastError = strerror(errno); continue; }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 128) != 0) {
            lastError = strerror(errno);
            close(fd);
            continue;
        }
        listener_ = fd;
    }
    freeaddrinfo(found);
    if (listener_ < 0) {
        *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + lastError;
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (pipe2(wakePipe_, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    return true;
}

void HttpServer::Run() {
    while (!stopping_) {
        pollfd waiting[2] = {{listener_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = poll(waiting, 2, refused_.empty() ? 1000 : 20);
        ReapFinished();
        DrainRefused(false);
        if (ready <= 0 || !(waiting[0].revents & POLLIN) || stopping_) continue;
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int client = accept4(listener_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
        if (client < 0) {
            // Out of descriptors: wait a little instead of spinning on a listener that stays ready.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pollfd wake{wakePipe_[0], POLLIN, 0};
                poll(&wake, 1, 100);
            }
            continue;
        }
        // A client that stops reading must not hold a thread for ever.
        timeval sendTimeout{limits_.idleTimeoutMs / 1000, (limits_.idleTimeoutMs % 1000) * 1000};
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
        Connection connection{client, PeerName(address)};
        std::unique_lock<std::mutex> hold(lock_);
        if (static_cast<int>(open_.size()) >= limits_.maxConnections) {
            hold.unlock();
            RefuseBusy(client, connection.peer);
            continue;
        }
        open_[client] = false;
        try {
            threads_.emplace_back([this, connection] { Serve(connection); });
        } catch (const std::exception&) {
            open_.erase(client);
            close(client);
        }
    }
    // No new connections from here on: connecting clients are refused by the system.
    close(listener_);
    listener_ = -1;
    DrainRefused(true);
    {
        std::unique_lock<std::mutex> hold(lock_);
        closed_.wait_for(hold, std::chrono::milliseconds(limits_.stopDeadlineMs), [this] { return open_.empty(); });
        for (const auto& entry : open_) shutdown(entry.first, SHUT_RDWR);
    }
    std::list<std::thread> remaining;
    {
        std::lock_guard<std::mutex> hold(lock_);
        remaining.swap(threads_);
        finished_.clear();
    }
    for (std::thread& thread : remaining) thread.join();
}

// Over the limit: a short answer sent without waiting and without a thread. The socket is kept
// a moment (DrainRefused) so that its request can be read and dropped: closed with unread input,
// it would reset the connection and the client might never see the answer.
void HttpServer::RefuseBusy(int socket, const std::string& peer) {
    const std::string answer = ErrorAnswer(503);
    (void)!send(socket, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(socket, SHUT_WR);
    LogRequest(peer, "-", "-", 503, 0, 0);
    if (refused_.size() >= kMaxRefused) {
        close(socket);
        return;
    }
    refused_.emplace_back(socket, Clock::now() + std::chrono::milliseconds(std::min(limits_.lingerMs, 500)));
}

void HttpServer::DrainRefused(bool all) {
    char scratch[4096];
    for (auto it = refused_.begin(); it != refused_.end();) {
        ssize_t got;
        while ((got = recv(it->first, scratch, sizeof scratch, MSG_DONTWAIT)) > 0) {
        }
        const bool ended = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        if (all || ended || Clock::now() >= it->second) {
            close(it->first);
            it = refused_.erase(it);
        } else {
            ++it;
        }
    }
}

void HttpServer::ReapFinished() {
    std::list<std::thread> done;
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (const std::thread::id id : finished_) {
            for (auto it = threads_.begin(); it != threads_.end(); ++it) {
                if (it->get_id() == id) {
                    done.splice(done.end(), threads_, it);
                    break;
                }
            }
        }
        finished_.clear();
    }
    for (std::thread& thread : done) thread.join();
}

void HttpServer::Stop() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!stopping_.exchange(true)) {
        const char byte = 0;
        if (wakePipe_[1] >= 0) (void)!write(wakePipe_[1], &byte, 1);
    }
    // A connection that has not started a request is closed, unless its first bytes have just
    // arrived and only wait to be read.
    char byte;
    for (const auto& [socket, started] : open_) {
        if (!started && recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) shutdown(socket, SHUT_RDWR);
    }
    wake_.notify_all();
}

void HttpServer::MarkStarted(int socket) {
    std::lock_guard<std::mutex> hold(lock_);
    open_[socket] = true;
}

bool HttpServer::Hold(int socket, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (stopping_) return false;
        const long long left = MsUntil(deadline);
        if (left <= 0) return true;
        pollfd waiting[2] = {{socket, POLLRDHUP, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = poll(waiting, 2, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if (waiting[1].revents) return false;
        if (waiting[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) return false;
        if (waiting[0].revents & POLLIN) {  // more bytes from the client: dropped
            char scratch[4096];
            if (recv(socket, scratch, sizeof scratch, MSG_DONTWAIT) == 0) return false;
        }
    }
}

bool HttpServer::ReadRequest(int socket, HttpRequest& request, int& errorStatus) {
    errorStatus = 0;
    ParseLimits parseLimits;
    parseLimits.maxHeadBytes = limits_.maxHeadBytes;
    parseLimits.maxBodyBytes = limits_.maxBodyBytes;
    RequestParser parser(parseLimits);
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.requestTimeoutMs);
    bool continueSent = false, marked = false, stopSeen = false;
    char chunk[16384];
    while (!parser.Done() && !parser.Failed()) {
        if (parser.ExpectsContinue() && !continueSent) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            SendAll(socket, kContinue, sizeof kContinue - 1);
            continueSent = true;
        }
        const long long left = std::min<long long>(MsUntil(deadline), limits_.idleTimeoutMs);
        pollfd waiting[2] = {{socket, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = left <= 0 ? 0 : poll(waiting, stopSeen ? 1 : 2, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && !stopSeen && waiting[1].revents) {
            stopSeen = true;  // a request that has started may still finish; silence ends now
            if (!parser.Started()) return false;
            continue;
        }
        if (ready <= 0) {  // silent too long, or the whole request took too long
            if (parser.Started()) errorStatus = 408;
            return false;
        }
        const ssize_t got = recv(socket, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (parser.Started()) errorStatus = 400;  // the client ended its side halfway
            return false;
        }
        parser.Feed(std::string_view(chunk, static_cast<size_t>(got)));
        if (!marked && parser.Started()) {
            MarkStarted(socket);
            marked = true;
        }
    }
    request = parser.Request();
    if (parser.Failed()) {
        errorStatus = parser.ErrorStatus();
        return false;
    }
    return true;
}

size_t HttpServer::Deliver(int socket, const HttpRequest& request, const Answer& answer) {
    const Delivery& delivery = answer.delivery;
    if (delivery.delayMs > 0 && !Hold(socket, delivery.delayMs)) return 0;
    if (delivery.kind == Delivery::Kind::CloseWithoutAnswer) return 0;
    const std::string& body = answer.response.body;
    const bool withBody = request.method != "HEAD";
    const std::string head = ResponseHead(answer.response, body.size());
    if (!SendAll(socket, head.data(), head.size()) || !withBody) return 0;
    if (delivery.kind == Delivery::Kind::Normal) {
        const size_t size = delivery.cutAfterBytes > 0 ? std::min(delivery.cutAfterBytes, body.size()) : body.size();
        return SendAll(socket, body.data(), size) ? size : 0;
    }
    const size_t piece = std::max<size_t>(1, delivery.pieceBytes);
    size_t sent = 0;
    for (size_t at = 0; at < body.size(); at += piece) {
        if (at > 0 && !Hold(socket, delivery.pieceIntervalMs)) break;
        const size_t size = std::min(piece, body.size() - at);
        if (!SendAll(socket, body.data() + at, size)) break;
        sent += size;
    }
    return sent;
}

// The answer is out: our side is closed, and what the client still sends (the rest of a body
// longer than announced, say) is read and dropped for a moment, so that closing the socket with
// unread input does not reset the connection before the client has read the answer.
void HttpServer::Linger(int socket) {
    shutdown(socket, SHUT_WR);
    if (stopping_) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.lingerMs);
    char scratch[4096];
    for (;;) {
        const long long left = MsUntil(deadline);
        if (left <= 0) return;
        pollfd waiting[2] = {{socket, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = poll(waiting, 2, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || waiting[1].revents) return;  // time is up, or the server stops
        const ssize_t got = recv(socket, scratch, sizeof scratch, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
    }
}

void HttpServer::Serve(Connection connection) {
    const int socket = connection.socket;
    const auto start = Clock::now();
    HttpRequest request;
    int errorStatus = 0, status = 0;
    size_t bytes = 0;
    bool logged = true;
    if (ReadRequest(socket, request, errorStatus)) {
        request.peer = connection.peer;
        Answer answer;
        try {
            answer = handler_(request);
        } catch (const std::exception& e) {
            answer = Answer{};
            answer.response.status = 500;
            answer.response.body = std::string("server error: ") + e.what() + "\n";
        }
        status = answer.delivery.kind == Delivery::Kind::CloseWithoutAnswer ? 0 : answer.response.status;
        bytes = Deliver(socket, request, answer);
    } else if (errorStatus != 0) {
        const std::string answer = ErrorAnswer(errorStatus);
        SendAll(socket, answer.data(), answer.size());
        status = errorStatus;
    } else {
        logged = false;  // no request: a connection that closed or stayed silent
    }
    Linger(socket);
    if (logged) {
        LogRequest(connection.peer, request.method.empty() ? "-" : request.method,
                   request.target.empty() ? "-" : request.target, status, bytes,
                   std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
    std::lock_guard<std::mutex> hold(lock_);
    open_.erase(socket);
    close(socket);
    finished_.push_back(std::this_thread::get_id());
    closed_.notify_all();
}

void LogRequest(const std::string& peer, const std::string& method, const std::string& target, int status,
                size_t bytes, long long ms) {
    const std::string path = target.substr(0, std::min<size_t>(target.find('?'), 300));
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char when[32];
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &parts);
    // One call, so that lines of different threads never mix.
    fprintf(stderr, "%s %s \"%s %s\" %d %zu %lldms\n", when, peer.c_str(), method.c_str(), path.c_str(), status, bytes, ms);
}

}  // namespace standin
