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
#include <exception>

#include "text.h"

namespace standin {
namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;
constexpr size_t kMaxBodyBytes = 64 * 1024 * 1024;
constexpr int kReadTimeoutMs = 30000;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
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

// Appends what the socket has to buffer; false on end of stream, error or time-out.
bool ReceiveMore(int socket, std::string& buffer) {
    pollfd waiting{socket, POLLIN, 0};
    for (;;) {
        const int ready = poll(&waiting, 1, kReadTimeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        break;
    }
    char chunk[16384];
    for (;;) {
        const ssize_t got = recv(socket, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(got));
        return true;
    }
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
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
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

HttpServer::HttpServer(Handler handler) : handler_(std::move(handler)) {}

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
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
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
        const int ready = poll(waiting, 2, 1000);
        ReapFinished();
        if (ready <= 0 || !(waiting[0].revents & POLLIN)) continue;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // A client that stops reading must not hold a thread for ever.
        timeval sendTimeout{30, 0};
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
        std::lock_guard<std::mutex> hold(lock_);
        if (stopping_) {
            close(client);
            break;
        }
        openSockets_.insert(client);
        try {
            threads_.emplace_back([this, client] { Serve(client); });
        } catch (const std::exception&) {
            openSockets_.erase(client);
            close(client);
        }
    }
    Stop();
    std::list<std::thread> remaining;
    {
        std::lock_guard<std::mutex> hold(lock_);
        remaining.swap(threads_);
        finished_.clear();
    }
    for (std::thread& thread : remaining) thread.join();
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
    for (int socket : openSockets_) shutdown(socket, SHUT_RDWR);
    wake_.notify_all();
}

bool HttpServer::Pause(int ms) {
    std::unique_lock<std::mutex> hold(lock_);
    wake_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
    return !stopping_;
}

bool HttpServer::ReadRequest(int socket, HttpRequest& request, int& errorStatus) {
    errorStatus = 0;
    std::string buffer;
    size_t headEnd;
    size_t separator = 4;
    for (;;) {
        headEnd = buffer.find("\r\n\r\n");
        if (headEnd == std::string::npos) {
            const size_t bare = buffer.find("\n\n");
            if (bare != std::string::npos) { headEnd = bare; separator = 2; }
        }
        if (headEnd != std::string::npos) break;
        if (buffer.size() > kMaxHeaderBytes) { errorStatus = 431; return false; }
        if (!ReceiveMore(socket, buffer)) {
            if (!buffer.empty()) errorStatus = 400;
            return false;
        }
    }
    // Request line: the method up to the first space, the version after the last one and the
    // target, spaces and all, in between (clients that leave spaces unescaped still get an answer).
    std::string head = buffer.substr(0, headEnd);
    size_t lineEnd = head.find('\n');
    std::string requestLine = head.substr(0, lineEnd);
    if (!requestLine.empty() && requestLine.back() == '\r') requestLine.pop_back();
    const size_t firstSpace = requestLine.find(' ');
    const size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string::npos || lastSpace == firstSpace ||
        requestLine.compare(lastSpace + 1, 5, "HTTP/") != 0) {
        errorStatus = 400;
        return false;
    }
    request.method = requestLine.substr(0, firstSpace);
    request.target = Trim(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
    while (lineEnd != std::string::npos) {
        const size_t start = lineEnd + 1;
        lineEnd = head.find('\n', start);
        std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }

    std::string target = request.target;
    if (target.compare(0, 7, "http://") == 0) {  // absolute form, as sent to a proxy
        const size_t slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    const size_t question = target.find('?');
    request.path = PercentDecode(target.substr(0, question), false);
    request.rawQuery = question == std::string::npos ? std::string() : target.substr(question + 1);

    std::string rest = buffer.substr(headEnd + separator);
    if (Lower(request.Header("Expect")) == "100-continue") {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        SendAll(socket, kContinue, sizeof kContinue - 1);
    }
    if (Lower(request.Header("Transfer-Encoding")).find("chunked") != std::string::npos) {
        size_t at = 0;
        for (;;) {
            size_t sizeEnd;
            while ((sizeEnd = rest.find("\r\n", at)) == std::string::npos) {
                if (!ReceiveMore(socket, rest)) { errorStatus = 400; return false; }
            }
            const unsigned long long chunkSize = strtoull(rest.c_str() + at, nullptr, 16);
            if (request.body.size() + chunkSize > kMaxBodyBytes) { errorStatus = 413; return false; }
            at = sizeEnd + 2;
            if (chunkSize == 0) break;  // trailers, if any, are not read
            while (rest.size() < at + chunkSize + 2) {
                if (!ReceiveMore(socket, rest)) { errorStatus = 400; return false; }
            }
            request.body.append(rest, at, chunkSize);
            at += chunkSize + 2;
        }
        return true;
    }
    const std::string lengthText = request.Header("Content-Length");
    if (!lengthText.empty()) {
        char* end = nullptr;
        const unsigned long long length = strtoull(lengthText.c_str(), &end, 10);
        if (end == lengthText.c_str() || *end != '\0') { errorStatus = 400; return false; }
        if (length > kMaxBodyBytes) { errorStatus = 413; return false; }
        while (rest.size() < length) {
            if (!ReceiveMore(socket, rest)) { errorStatus = 400; return false; }
        }
        rest.resize(length);
        request.body = std::move(rest);
    }
    return true;
}

void HttpServer::Deliver(int socket, const HttpRequest& request, const Answer& answer) {
    const Delivery& delivery = answer.delivery;
    if (delivery.delayMs > 0 && !Pause(delivery.delayMs)) return;
    if (delivery.kind == Delivery::Kind::CloseWithoutAnswer) return;
    const std::string& body = answer.response.body;
    const bool withBody = request.method != "HEAD";
    const std::string head = ResponseHead(answer.response, body.size());
    if (delivery.kind == Delivery::Kind::Normal || !withBody) {
        const size_t sent = delivery.cutAfterBytes > 0 ? std::min(delivery.cutAfterBytes, body.size()) : body.size();
        if (SendAll(socket, head.data(), head.size()) && withBody) SendAll(socket, body.data(), sent);
    } else {
        if (!SendAll(socket, head.data(), head.size())) return;
        const size_t piece = std::max<size_t>(1, delivery.pieceBytes);
        for (size_t at = 0; at < body.size(); at += piece) {
            if (at > 0 && !Pause(delivery.pieceIntervalMs)) return;
            if (!SendAll(socket, body.data() + at, std::min(piece, body.size() - at))) return;
        }
    }
    shutdown(socket, SHUT_WR);
}

void HttpServer::Serve(int socket) {
    HttpRequest request;
    int errorStatus = 0;
    int status = 0;
    if (ReadRequest(socket, request, errorStatus)) {
        Answer answer;
        try {
            answer = handler_(request);
        } catch (const std::exception& e) {
            answer = Answer{};
            answer.response.status = 500;
            answer.response.body = std::string("stand-in error: ") + e.what() + "\n";
        }
        status = answer.delivery.kind == Delivery::Kind::CloseWithoutAnswer ? 0 : answer.response.status;
        Deliver(socket, request, answer);
    } else if (errorStatus != 0) {
        HttpResponse response;
        response.status = errorStatus;
        response.body = StatusText(errorStatus) + "\n";
        const std::string head = ResponseHead(response, response.body.size());
        if (SendAll(socket, head.data(), head.size())) SendAll(socket, response.body.data(), response.body.size());
        status = errorStatus;
    }
    if (!request.method.empty()) {
        fprintf(stderr, "%s %.300s -> %d\n", request.method.c_str(), request.target.c_str(), status);
    }
    std::lock_guard<std::mutex> hold(lock_);
    openSockets_.erase(socket);
    close(socket);
    finished_.push_back(std::this_thread::get_id());
}

}  // namespace standin
