#include "standin_client.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace svtest {
namespace {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
void CloseSocket(SocketHandle s) { closesocket(s); }
int WaitReadable(SocketHandle s, int timeoutMs) {
    WSAPOLLFD waiting{};
    waiting.fd = s;
    waiting.events = POLLRDNORM;
    return WSAPoll(&waiting, 1, timeoutMs);
}
void StartSockets() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    });
}
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
void CloseSocket(SocketHandle s) { close(s); }
int WaitReadable(SocketHandle s, int timeoutMs) {
    pollfd waiting{s, POLLIN, 0};
    int ready;
    do {
        ready = poll(&waiting, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}
void StartSockets() {}
#endif

class Connection {
public:
    Connection(const std::string& host, int port) {
        StartSockets();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
            throw std::runtime_error("stand-in client: cannot resolve " + host);
        }
        for (addrinfo* a = found; a && socket_ == kNoSocket; a = a->ai_next) {
            SocketHandle s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (s == kNoSocket) continue;
            if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
                socket_ = s;
            } else {
                CloseSocket(s);
            }
        }
        freeaddrinfo(found);
        if (socket_ == kNoSocket) {
            throw std::runtime_error("stand-in client: cannot connect to " + host + ":" + std::to_string(port));
        }
    }
    ~Connection() { CloseSocket(socket_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void SendAll(const std::string& data) {
        size_t at = 0;
        while (at < data.size()) {
#ifdef _WIN32
            const int sent =
                send(socket_, data.data() + at, static_cast<int>(std::min<size_t>(data.size() - at, 1 << 20)), 0);
#else
            const ssize_t sent = send(socket_, data.data() + at, data.size() - at, MSG_NOSIGNAL);
#endif
            if (sent <= 0) throw std::runtime_error("stand-in client: send failed");
            at += static_cast<size_t>(sent);
        }
    }
    // Everything up to the end of the stream (or an error, e.g. a reset after the answer).
    std::string ReadToEnd(int timeoutMs) {
        std::string data;
        char chunk[16384];
        for (;;) {
            const int ready = WaitReadable(socket_, timeoutMs);
            if (ready == 0)
                throw std::runtime_error("stand-in client: no data for " + std::to_string(timeoutMs) + " ms");
            if (ready < 0) break;
            const auto got = recv(socket_, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            data.append(chunk, static_cast<size_t>(got));
        }
        return data;
    }

private:
    SocketHandle socket_ = kNoSocket;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

HttpReply ParseReply(const std::string& raw) {
    HttpReply reply;
    if (raw.empty()) return reply;
    const size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos || raw.compare(0, 5, "HTTP/") != 0) {
        throw std::runtime_error("stand-in client: not an HTTP answer: " + raw.substr(0, 80));
    }
    reply.answered = true;
    const std::string head = raw.substr(0, headEnd);
    const size_t space = head.find(' ');
    reply.status = atoi(head.c_str() + space + 1);
    size_t lineStart = head.find("\r\n");
    while (lineStart != std::string::npos) {
        lineStart += 2;
        const size_t lineEnd = head.find("\r\n", lineStart);
        const std::string line =
            head.substr(lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t valueStart = colon + 1;
            while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
            reply.headers.emplace_back(line.substr(0, colon), line.substr(valueStart));
        }
        lineStart = lineEnd;
    }
    std::string body = raw.substr(headEnd + 4);
    if (Lower(reply.Header("Transfer-Encoding")).find("chunked") != std::string::npos) {
        std::string decoded;
        size_t at = 0;
        for (;;) {
            const size_t sizeEnd = body.find("\r\n", at);
            if (sizeEnd == std::string::npos) break;
            const unsigned long size = strtoul(body.c_str() + at, nullptr, 16);
            if (size == 0 || sizeEnd + 2 + size > body.size()) break;
            decoded.append(body, sizeEnd + 2, size);
            at = sizeEnd + 2 + size + 2;
        }
        body = decoded;
    } else if (!reply.Header("Content-Length").empty()) {
        const size_t length = strtoul(reply.Header("Content-Length").c_str(), nullptr, 10);
        if (body.size() < length) throw std::runtime_error("stand-in client: answer cut short");
        body.resize(length);
    }
    reply.body = std::move(body);
    return reply;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<RecordedRequest> ParseRecord(const std::string& text) {
    std::vector<RecordedRequest> requests;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        std::vector<std::string> fields;
        size_t at = lineStart;
        while (at <= lineEnd) {
            size_t tab = text.find('\t', at);
            if (tab == std::string::npos || tab > lineEnd) tab = lineEnd;
            fields.push_back(text.substr(at, tab - at));
            at = tab + 1;
        }
        lineStart = lineEnd + 1;
        if (fields.size() < 5) continue;
        RecordedRequest request;
        request.seq = atoi(fields[0].c_str());
        request.method = PercentDecode(fields[1]);
        request.path = PercentDecode(fields[2]);
        request.rawTarget = PercentDecode(fields[3]);
        request.body = PercentDecode(fields[4]);
        for (size_t i = 5; i < fields.size(); ++i) {
            const size_t eq = fields[i].find('=');
            if (eq == std::string::npos) continue;
            request.query.emplace_back(PercentDecode(fields[i].substr(0, eq)), PercentDecode(fields[i].substr(eq + 1)));
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

}  // namespace

std::string RecordedRequest::Query(const std::string& name) const {
    std::string value;
    for (const auto& [n, v] : query) {
        if (n == name) value = v;
    }
    return value;
}

bool RecordedRequest::HasQuery(const std::string& name) const {
    return std::any_of(query.begin(), query.end(), [&](const auto& pair) { return pair.first == name; });
}

std::vector<std::string> RecordedRequest::QueryNames() const {
    std::vector<std::string> names;
    for (const auto& pair : query) names.push_back(pair.first);
    return names;
}

std::string HttpReply::Header(const std::string& name) const {
    const std::string wanted = Lower(name);
    for (const auto& [n, v] : headers) {
        if (Lower(n) == wanted) return v;
    }
    return std::string();
}

std::string PercentEncode(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

StandinClient StandinClient::FromEnvironment() {
    const char* value = getenv("SONAVIRE_STANDIN");
    if (!value || !*value) {
        throw std::runtime_error(
            "SONAVIRE_STANDIN is not set: run this test through scripts/with-standin.sh (sonavire_add_test STANDIN)");
    }
    const std::string text = value;
    const size_t colon = text.rfind(':');
    const int port = colon == std::string::npos ? 0 : atoi(text.c_str() + colon + 1);
    if (colon == 0 || colon == std::string::npos || port <= 0 || port > 65535) {
        throw std::runtime_error("SONAVIRE_STANDIN is not host:port: " + text);
    }
    const char* token = getenv("SONAVIRE_STANDIN_TOKEN");
    return StandinClient(text.substr(0, colon), port, token ? token : "");
}

StandinClient::StandinClient(std::string host, int port, std::string controlToken)
    : host_(std::move(host)), port_(port), token_(std::move(controlToken)) {}

std::string StandinClient::PasswordMark(const std::string& password) const {
    if (password.empty()) return std::string();
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : token_ + std::string(1, '\0') + password) hash = (hash ^ c) * 1099511628211ull;
    char text[32];
    snprintf(text, sizeof text, "hidden-%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string StandinClient::HostPort() const { return host_ + ":" + std::to_string(port_); }

std::string StandinClient::BaseUrl() const { return "http://" + HostPort(); }

HttpReply StandinClient::Send(const std::string& method, const std::string& target, const std::string& body,
                              int readTimeoutMs) {
    Connection connection(host_, port_);
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: " + HostPort() + "\r\nConnection: close\r\n";
    if (!token_.empty() && target.compare(0, 10, "/_control/") == 0) {
        request += "X-Sonavire-Control-Token: " + token_ + "\r\n";
    }
    if (!body.empty() || method == "POST" || method == "PUT") {
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n";
    connection.SendAll(request + body);
    return ParseReply(connection.ReadToEnd(readTimeoutMs));
}

std::string StandinClient::Get(const std::string& pathAndQuery) {
    const HttpReply reply = Send("GET", pathAndQuery);
    if (!reply.answered) throw std::runtime_error("stand-in client: GET " + pathAndQuery + " got no answer");
    return reply.body;
}

std::string StandinClient::Control(const std::string& method, const std::string& target, const std::string& body) {
    const HttpReply reply = Send(method, target, body);
    if (!reply.answered || reply.status != 200) {
        throw std::runtime_error("stand-in control " + target + " failed: " + std::to_string(reply.status) + " " +
                                 reply.body);
    }
    return reply.body;
}

std::vector<RecordedRequest> StandinClient::Requests(const std::string& path) {
    return ParseRecord(Control("GET", "/_control/requests" + (path.empty() ? "" : "?path=" + PercentEncode(path))));
}

std::vector<RecordedRequest> StandinClient::WaitForRequests(const std::string& path, int count, int timeoutMs) {
    std::string target = "/_control/requests?min=" + std::to_string(count) + "&timeout-ms=" + std::to_string(timeoutMs);
    if (!path.empty()) target += "&path=" + PercentEncode(path);
    return ParseRecord(Control("GET", target));
}

void StandinClient::ClearRequests() { Control("POST", "/_control/clear-requests"); }

void StandinClient::SetBehaviour(const std::string& path, const std::string& mode, int ms, int code, long bytes) {
    std::string target = "/_control/behaviour?path=" + PercentEncode(path) + "&mode=" + PercentEncode(mode);
    if (ms) target += "&ms=" + std::to_string(ms);
    if (code) target += "&code=" + std::to_string(code);
    if (bytes) target += "&bytes=" + std::to_string(bytes);
    Control("POST", target);
}

void StandinClient::ResetBehaviours() { Control("POST", "/_control/reset-behaviours"); }

void StandinClient::AddUser(const std::string& name, const std::string& password) {
    Control("POST", "/_control/user?name=" + PercentEncode(name) + "&password=" + PercentEncode(password));
}

std::string StandinClient::AddSongLrc(const std::string& lrcUtf8) {
    std::string answer = Control("POST", "/_control/song", lrcUtf8);
    if (answer.compare(0, 3, "ok ") == 0) answer = answer.substr(3);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    return answer;
}

}  // namespace svtest
