#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <strings.h>
#include <sys/time.h>
#include <sys/uio.h>
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

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Whole milliseconds, rounded up: a wait of that long never ends before the deadline.
long long MsUntil(Clock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// more: further bytes follow at once, so the kernel holds these back to go out with them (a head
// and its body in one segment, never a head waiting for the client's delayed acknowledgement).
bool SendAll(int socket, const char* data, size_t size, bool more = false) {
    while (size > 0) {
        const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// Head and body in one call: one system call and one segment for an answer that fits.
bool SendBoth(int socket, const std::string& head, const char* body, size_t bodySize) {
    size_t sent = 0;
    const size_t total = head.size() + bodySize;
    while (sent < total) {
        iovec parts[2];
        int count = 0;
        if (sent < head.size()) parts[count++] = {const_cast<char*>(head.data()) + sent, head.size() - sent};
        const size_t bodyAt = sent > head.size() ? sent - head.size() : 0;
        parts[count++] = {const_cast<char*>(body) + bodyAt, bodySize - bodyAt};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        const ssize_t wrote = sendmsg(socket, &message, MSG_NOSIGNAL);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        sent += static_cast<size_t>(wrote);
    }
    return true;
}

std::string ResponseHead(const HttpResponse& response, size_t contentLength, bool keepOpen, int keepAliveMs) {
    std::string head;
    head.reserve(160 + response.contentType.size());
    head.append("HTTP/1.1 ").append(std::to_string(response.status)).append(" ").append(StatusText(response.status));
    head.append("\r\nContent-Type: ").append(response.contentType);
    head.append("\r\nContent-Length: ").append(std::to_string(contentLength));
    head.append("\r\nCache-Control: no-store\r\n");
    if (keepOpen)
        head.append("Keep-Alive: timeout=").append(std::to_string(std::max(1, keepAliveMs / 1000))).append("\r\n");
    else
        head.append("Connection: close\r\n");
    for (const auto& [name, value] : response.headers) head.append(name).append(": ").append(value).append("\r\n");
    head.append("\r\n");
    return head;
}

// Always followed by a close: after a refused request the stream cannot be trusted.
std::string ErrorAnswer(int status) {
    HttpResponse response;
    response.status = status;
    response.body = StatusText(status) + "\n";
    if (status == 429 || status == 503) response.headers.emplace_back("Retry-After", "1");
    return ResponseHead(response, response.body.size(), false, 0) + response.body;
}

// Whether the client lets the connection stay open: HTTP/1.1 unless it says "close"; HTTP/1.0
// connections are closed after one answer.
bool ClientKeepsOpen(const HttpRequest& request) {
    if (request.version != "HTTP/1.1") return false;
    for (const auto& [name, value] : request.headers) {
        if (!SameName(name, "connection")) continue;
        const std::string tokens = Lower(value);
        size_t at = 0;
        while (at <= tokens.size()) {
            const size_t comma = std::min(tokens.find(',', at), tokens.size());
            std::string token = tokens.substr(at, comma - at);
            token.erase(0, token.find_first_not_of(" \t"));
            token.erase(token.find_last_not_of(" \t") + 1);
            if (token == "close") return false;
            at = comma + 1;
        }
    }
    return true;
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

// IPv6 hosts usually hold a whole /64, so the per-peer cap counts the prefix, not the address.
std::string PeerKeyOf(const std::string& canonical) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, canonical.c_str(), &v6) != 1) return canonical;  // IPv4, or not an address
    in6_addr prefix{};
    std::memcpy(&prefix, &v6, 8);
    char text[INET6_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET6, &prefix, text, sizeof text);
    return std::string(text) + "/64";
}

// The right-most X-Forwarded-For address that is not itself a trusted proxy: entries to its left
// were written by the client and prove nothing. The proxy's own address when there is none.
std::string ForwardedClient(const HttpRequest& request, const std::string& proxy,
                            const std::vector<std::string>& trusted) {
    std::vector<std::string> hops;
    for (const auto& [name, value] : request.headers) {
        if (!SameName(name, "x-forwarded-for")) continue;
        for (size_t at = 0; at <= value.size();) {
            const size_t comma = std::min(value.find(',', at), value.size());
            hops.push_back(Trim(std::string_view(value).substr(at, comma - at)));
            at = comma + 1;
        }
    }
    for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
        const std::string address = CanonicalAddress(*hop);
        if (address.empty()) break;  // a proxy wrote no address here: nothing further left is sure
        if (std::find(trusted.begin(), trusted.end(), address) == trusted.end()) return address;
    }
    return proxy;
}

}  // namespace

std::string CanonicalAddress(const std::string& text) {
    unsigned char bytes[16];
    char out[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return inet_ntop(AF_INET, bytes, out, sizeof out);
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return std::string();
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(bytes, mapped, 12) == 0) return inet_ntop(AF_INET, bytes + 12, out, sizeof out);
    return inet_ntop(AF_INET6, bytes, out, sizeof out);
}

std::string StatusText(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Payload Too Large";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 414:
            return "URI Too Long";
        case 429:
            return "Too Many Requests";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Status " + std::to_string(status);
    }
}

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
        if (SameName(n, name)) return v;
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
        if (fd < 0) {
            lastError = strerror(errno);
            continue;
        }
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
        const int on = 1;  // answers go out whole (see SendAll), so nothing is gained by waiting
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Connection connection{client, PeerName(address), {}};
        const std::string canonical = CanonicalAddress(connection.peer);
        const auto& trusted = limits_.trustedProxies;
        connection.fromProxy = std::find(trusted.begin(), trusted.end(), canonical) != trusted.end();
        // A proxy's connection is counted against its client once its request names that client.
        if (!connection.fromProxy) connection.peerKey = PeerKeyOf(canonical.empty() ? connection.peer : canonical);
        std::unique_lock<std::mutex> hold(lock_);
        const bool peerFull = !connection.fromProxy && perPeer_[connection.peerKey] >= limits_.maxPerPeer;
        const int refusal = static_cast<int>(open_.size()) >= limits_.maxConnections ? 503 : peerFull ? 429 : 0;
        if (refusal != 0) {
            if (!connection.fromProxy && perPeer_[connection.peerKey] == 0) perPeer_.erase(connection.peerKey);
            hold.unlock();
            RefuseBusy(client, connection.peer, refusal);
            continue;
        }
        open_[client] = nullptr;  // Serve puts its own flag here
        if (!connection.fromProxy) ++perPeer_[connection.peerKey];
        try {
            threads_.emplace_back([this, connection] { Serve(connection); });
        } catch (const std::exception&) {
            open_.erase(client);
            if (!connection.fromProxy && --perPeer_[connection.peerKey] == 0) perPeer_.erase(connection.peerKey);
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
void HttpServer::RefuseBusy(int socket, const std::string& peer, int status) {
    const std::string answer = ErrorAnswer(status);
    (void)!send(socket, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(socket, SHUT_WR);
    LogRequest(peer, "-", "-", status, 0, 0);
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
        while ((got = recv(it->first, scratch, sizeof scratch, MSG_DONTWAIT)) > 0) {}
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
        if (!(started && *started) && recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) shutdown(socket, SHUT_RDWR);
    }
    wake_.notify_all();
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

bool HttpServer::ReadRequest(int socket, std::atomic<bool>& started, bool reused, std::string& pending,
                             HttpRequest& request, int& errorStatus) {
    errorStatus = 0;
    ParseLimits parseLimits;
    parseLimits.maxHeadBytes = limits_.maxHeadBytes;
    parseLimits.maxBodyBytes = limits_.maxBodyBytes;
    RequestParser parser(parseLimits);
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.requestTimeoutMs);
    bool continueSent = false, marked = false, stopSeen = false;
    // Between requests a connection may stay silent for the keep-alive time, not the longer idle limit.
    const int firstSilenceMs = reused ? std::min(limits_.keepAliveMs, limits_.idleTimeoutMs) : limits_.idleTimeoutMs;
    char chunk[16384];
    std::string fed = std::move(pending);
    pending.clear();
    for (;;) {
        if (!fed.empty()) {
            parser.Feed(fed);
            fed.clear();
            if (!marked && parser.Started()) {
                started = true;
                marked = true;
            }
        }
        if (parser.Done() || parser.Failed()) break;
        if (parser.ExpectsContinue() && !continueSent) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            SendAll(socket, kContinue, sizeof kContinue - 1);
            continueSent = true;
        }
        const long long left =
            std::min<long long>(MsUntil(deadline), parser.Started() ? limits_.idleTimeoutMs : firstSilenceMs);
        pollfd waiting[2] = {{socket, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = left <= 0 ? 0 : poll(waiting, stopSeen ? 1 : 2, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && !stopSeen && waiting[1].revents) {
            stopSeen = true;  // a request that has started may still finish; silence ends now
            // Bytes already waiting are a request that has started, even if this thread has not
            // read them yet (Stop spared the connection for them).
            if (!parser.Started() && !(waiting[0].revents & POLLIN)) return false;
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
        fed.assign(chunk, static_cast<size_t>(got));
    }
    request = parser.Request();
    if (parser.Failed()) {
        errorStatus = parser.ErrorStatus();
        return false;
    }
    pending = parser.TakeRest();  // a pipelined request, or the start of one
    return true;
}

bool HttpServer::Deliver(int socket, const HttpRequest& request, const Answer& answer, bool keepOpen, size_t& bytes) {
    bytes = 0;
    const Delivery& delivery = answer.delivery;
    if (delivery.delayMs > 0 && !Hold(socket, delivery.delayMs)) return false;
    if (delivery.kind == Delivery::Kind::CloseWithoutAnswer) return false;
    const std::string& body = answer.response.body;
    const bool withBody = request.method != "HEAD" && !body.empty();
    const std::string head = ResponseHead(answer.response, body.size(), keepOpen, limits_.keepAliveMs);
    if (!withBody) return SendAll(socket, head.data(), head.size());
    if (delivery.kind != Delivery::Kind::Normal && !SendAll(socket, head.data(), head.size(), true)) return false;
    if (delivery.kind == Delivery::Kind::Normal) {
        const size_t size = delivery.cutAfterBytes > 0 ? std::min(delivery.cutAfterBytes, body.size()) : body.size();
        if (!SendBoth(socket, head, body.data(), size)) return false;
        bytes = size;
        return size == body.size();
    }
    const size_t piece = std::max<size_t>(1, delivery.pieceBytes);
    for (size_t at = 0; at < body.size(); at += piece) {
        if (at > 0 && !Hold(socket, delivery.pieceIntervalMs)) return false;
        const size_t size = std::min(piece, body.size() - at);
        if (!SendAll(socket, body.data() + at, size)) return false;
        bytes += size;
    }
    return true;
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

bool HttpServer::Charge(Connection& connection, const std::string& key) {
    std::lock_guard<std::mutex> hold(lock_);
    if (key == connection.peerKey) return true;
    int& count = perPeer_[key];
    if (count >= limits_.maxPerPeer) return false;
    ++count;
    if (!connection.peerKey.empty() && --perPeer_[connection.peerKey] <= 0) perPeer_.erase(connection.peerKey);
    connection.peerKey = key;
    return true;
}

void HttpServer::Serve(Connection connection) {
    const int socket = connection.socket;
    std::atomic<bool> started{false};
    {
        std::lock_guard<std::mutex> hold(lock_);
        open_[socket] = &started;
    }
    std::string pending;  // received after the previous request
    bool linger = false;
    for (int served = 0;; ++served) {
        const auto start = Clock::now();
        HttpRequest request;
        int errorStatus = 0, status = 0;
        size_t bytes = 0;
        bool keepOpen = false;
        const bool read = ReadRequest(socket, started, served > 0, pending, request, errorStatus);
        request.peer =
            connection.fromProxy ? ForwardedClient(request, connection.peer, limits_.trustedProxies) : connection.peer;
        if (read && connection.fromProxy && !Charge(connection, PeerKeyOf(request.peer))) {
            errorStatus = 429;  // that client holds its share of connections through the proxy already
        } else if (read) {
            Answer answer;
            try {
                answer = handler_(request);
            } catch (const std::exception& e) {
                answer = Answer{};
                answer.response.status = 500;
                answer.response.body = std::string("server error: ") + e.what() + "\n";
            }
            // Answers cut short or closed on purpose end the connection, as a stop does.
            keepOpen = ClientKeepsOpen(request) && answer.delivery.kind != Delivery::Kind::CloseWithoutAnswer &&
                       answer.delivery.cutAfterBytes == 0 && served + 1 < limits_.maxRequestsPerConnection &&
                       !stopping_;
            status = answer.delivery.kind == Delivery::Kind::CloseWithoutAnswer ? 0 : answer.response.status;
            keepOpen = Deliver(socket, request, answer, keepOpen, bytes) && keepOpen;
        }
        if (!read || errorStatus != 0) {
            if (errorStatus == 0) break;  // no request: the client closed or stayed silent
            const std::string answer = ErrorAnswer(errorStatus);
            SendAll(socket, answer.data(), answer.size());
            status = errorStatus;
        }
        LogRequest(request.peer, request.method.empty() ? "-" : request.method,
                   request.target.empty() ? "-" : request.target, status, bytes,
                   std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        if (!keepOpen) {
            linger = true;
            break;
        }
        started = !pending.empty();  // idle again, unless the next request is here already
    }
    // A connection that ends between requests has no unread input worth draining; after an
    // answer that closes it, the client's remaining bytes are read and dropped for a moment.
    if (linger) Linger(socket);
    std::lock_guard<std::mutex> hold(lock_);
    open_.erase(socket);
    if (!connection.peerKey.empty() && --perPeer_[connection.peerKey] <= 0) perPeer_.erase(connection.peerKey);
    close(socket);
    finished_.push_back(std::this_thread::get_id());
    closed_.notify_all();
}

void LogRequest(const std::string& peer, const std::string& method, const std::string& target, int status, size_t bytes,
                long long ms) {
    const std::string path = target.substr(0, std::min<size_t>(target.find('?'), 300));
    // To the millisecond (the system clock's), so that the line can be set beside a client's
    // record of when the answer arrived.
    const long long nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::time_t now = static_cast<std::time_t>(nowMs / 1000);
    thread_local std::time_t formatted = -1;  // the second the text below names
    thread_local char when[32];
    if (now != formatted) {
        std::tm parts{};
        gmtime_r(&now, &parts);
        strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &parts);
        formatted = now;
    }
    // One write, so that lines of different threads never mix; no stdio lock for threads to queue at.
    char line[512];
    const int length =
        snprintf(line, sizeof line, "%s.%03dZ %s \"%s %s\" %d %zu %lldms\n", when, static_cast<int>(nowMs % 1000),
                 peer.c_str(), method.c_str(), path.c_str(), status, bytes, ms);
    if (length <= 0) return;
    if (static_cast<size_t>(length) >= sizeof line) line[sizeof line - 2] = '\n';  // cut short, still one line
    (void)!write(STDERR_FILENO, line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
}

}  // namespace standin
