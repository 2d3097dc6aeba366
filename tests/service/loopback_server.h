// Test helper: a minimal HTTP server on 127.0.0.1 that records each raw request and answers with
// bytes the test chooses, optionally holding the answer back until the test releases it.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace svtest {
using namespace sv;  // the tests of the service code read as the code itself

// Starts Winsock and listens on a free loopback port; the caller closes the socket and calls
// WSACleanup.
inline SOCKET OpenLoopbackListener(int backlog, unsigned short& port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener, backlog);
    int length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

class LoopbackServer {
public:
    LoopbackServer() {
        listener_ = OpenLoopbackListener(8, port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        closesocket(listener_);  // ends accept()
        thread_.join();
        WSACleanup();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // The whole answer, status line and headers included.
    void SetResponse(std::string bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        response_ = std::move(bytes);
    }
    void SetBody(const std::string& body, const char* status = "200 OK") {
        SetResponse(std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }
    void HoldReplies(bool hold) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            holding_ = hold;
        }
        changed_.notify_all();
    }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    bool WaitForRequests(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return requests_.size() >= count; });
    }
    // Body of a recorded request (after the blank line).
    static std::string BodyOf(const std::string& request) {
        const size_t end = request.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : request.substr(end + 4);
    }
    static std::string RequestLineOf(const std::string& request) { return request.substr(0, request.find("\r\n")); }

private:
    void Serve() {
        for (;;) {
            SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            const DWORD receiveTimeoutMs = 10000;  // a client that never finishes cannot hang the test
            setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveTimeoutMs),
                       sizeof(receiveTimeoutMs));
            std::string request = ReadRequest(client);
            std::string response;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                requests_.push_back(request);
                changed_.notify_all();
                changed_.wait(lock, [&] { return !holding_ || stopping_; });
                response = response_;
            }
            for (size_t sent = 0; sent < response.size();) {
                const int n = send(client, response.data() + sent, static_cast<int>(response.size() - sent), 0);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            shutdown(client, SD_SEND);
            char drain[256];
            while (recv(client, drain, sizeof(drain), 0) > 0) {}
            closesocket(client);
        }
    }

    static std::string ReadRequest(SOCKET client) {
        std::string data;
        char buffer[4096];
        size_t headerEnd;
        while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
            const int n = recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0) return data;
            data.append(buffer, static_cast<size_t>(n));
        }
        size_t contentLength = 0;
        std::string lower = data.substr(0, headerEnd);
        for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (const size_t at = lower.find("\r\ncontent-length:"); at != std::string::npos)
            contentLength = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
        while (data.size() < headerEnd + 4 + contentLength) {
            const int n = recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            data.append(buffer, static_cast<size_t>(n));
        }
        return data;
    }

    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> requests_;
    std::string response_ = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    bool holding_ = false;
    bool stopping_ = false;
};

// A loopback port that nothing listens on: bound once, then closed.
inline unsigned short ClosedLoopbackPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    WSACleanup();
    return ntohs(address.sin_port);
}

}  // namespace svtest
