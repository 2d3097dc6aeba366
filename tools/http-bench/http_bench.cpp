// Figures for the HTTP retriever:
//  1. a GET of a 2,000-line lyrics reply from the stand-in service over loopback, through
//     HttpRetriever (a new retriever per request, as every caller does) against the same transfer
//     by a plain socket client;
//  2. how long RetrieveWithTimeout takes to give up on a server that never answers.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/module_lock.h"
#include "service/http_retriever.h"
#include "standin_client.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Summary {
    double median, minimum, mean;
};

Summary Summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    double total = 0;
    for (double s : samples) total += s;
    return {samples[samples.size() / 2], samples.front(), total / samples.size()};
}

// The same GET over one plain socket: request line, Host, Connection: close; read to the end.
std::string SocketGet(const std::string& host, int port, const std::string& target) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    std::string response;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
                                    "\r\nConnection: close\r\n\r\n";
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buffer[8192];
        int n;
        while ((n = recv(s, buffer, sizeof(buffer), 0)) > 0) response.append(buffer, static_cast<size_t>(n));
    }
    closesocket(s);
    const size_t body = response.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : response.substr(body + 4);
}

std::string TwoThousandLineLrc() {
    std::string lrc = "[ar:Bench Artist]\n[ti:Two Thousand Lines]\n[al:Figures]\n";
    for (int i = 0; i < 2000; ++i) {
        char stamp[32];
        const int hundredths = i * 150;  // a line every 1.5 s
        std::snprintf(stamp, sizeof(stamp), "[%02d:%02d.%02d]", hundredths / 6000, hundredths / 100 % 60,
                      hundredths % 100);
        lrc += stamp;
        lrc += "Line " + std::to_string(i + 1) + " of the benchmark song, long enough to be a real lyric line\n";
    }
    return lrc;
}

int BenchTransfer(svtest::StandinClient& client) {
    client.AddSongLrc(TwoThousandLineLrc());
    const std::string target =
        "/sonavire/services/getLyricXML_2?lang=&artist=Bench%20Artist&title=Two%20Thousand%20Lines&album=Figures"
        "&videoId=&vidSrc=&user=&device=1000&resolution=1280x1024";
    const std::string url = client.BaseUrl() + target;
    const std::string hostPort = client.HostPort();
    const std::string host = hostPort.substr(0, hostPort.find(':'));
    const int port = std::atoi(hostPort.c_str() + hostPort.find(':') + 1);

    // The service encodes line times afresh for every reply, so sizes vary a little between replies.
    const char* lastLine = "Line 2000 of the benchmark song";
    size_t retrieverBytes = 0, socketBytes = 0;
    bool complete = true;
    std::vector<double> retrieverMs, socketMs;
    constexpr int kWarmUp = 5, kRounds = 60;
    for (int round = 0; round < kWarmUp + kRounds; ++round) {
        // Alternate the two so that both see the same machine load.
        auto start = Clock::now();
        {
            sv::HttpRetriever retriever;
            sv::HttpRequest request;
            request.url = url.c_str();
            const char* reply = retriever.Run(request);
            retrieverBytes = reply ? std::char_traits<char>::length(reply) : 0;
            complete &= reply && std::strstr(reply, lastLine) != nullptr;
        }
        const double retrieverTime = MillisecondsSince(start);
        start = Clock::now();
        const std::string socketReply = SocketGet(host, port, target);
        socketBytes = socketReply.size();
        complete &= socketReply.find(lastLine) != std::string::npos;
        const double socketTime = MillisecondsSince(start);
        if (round >= kWarmUp) {
            retrieverMs.push_back(retrieverTime);
            socketMs.push_back(socketTime);
        }
    }
    if (!complete) {
        std::printf("transfer: a reply was cut short (last sizes: retriever %zu bytes, socket %zu bytes)\n",
                    retrieverBytes, socketBytes);
        return 1;
    }
    const Summary r = Summarise(retrieverMs), s = Summarise(socketMs);
    std::printf("2,000-line lyrics reply: about %zu bytes, %d rounds each over loopback\n", retrieverBytes, kRounds);
    std::printf("  HttpRetriever (new per request): median %.2f ms, min %.2f ms, mean %.2f ms\n", r.median, r.minimum,
                r.mean);
    std::printf("  plain socket client:             median %.2f ms, min %.2f ms, mean %.2f ms\n", s.median, s.minimum,
                s.mean);
    std::printf("  ratio retriever / socket (medians): %.2f\n", r.median / s.median);
    return 0;
}

int BenchTimeout() {
    // A listener that never accepts: connections complete in the backlog and are never answered.
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener, 16);
    int length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/never";

    const long baseline = sv::ModuleLockCount();
    std::vector<double> samples;
    constexpr int kRounds = 5;
    bool anyReply = false;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = Clock::now();
        anyReply |= sv::RetrieveWithTimeout(url.c_str()).has_value();
        samples.push_back(MillisecondsSince(start));
    }
    const Summary t = Summarise(samples);
    std::printf("RetrieveWithTimeout against a server that never answers (%d rounds, limit %lu ms):\n", kRounds,
                static_cast<unsigned long>(sv::kRetrieveTimeoutMs));
    std::printf("  gave up after: median %.1f ms, min %.1f ms, max %.1f ms%s\n", t.median, t.minimum,
                *std::max_element(samples.begin(), samples.end()), anyReply ? " (a reply came: wrong)" : "");

    // Closing the listener resets the waiting connections; the abandoned workers end on their own.
    const auto closed = Clock::now();
    closesocket(listener);
    while (sv::ModuleLockCount() != baseline && MillisecondsSince(closed) < 60000) Sleep(5);
    std::printf("  abandoned workers still running after the server closed: %ld (after %.0f ms)\n",
                sv::ModuleLockCount() - baseline, MillisecondsSince(closed));
    return anyReply ? 1 : 0;
}

}  // namespace

int main() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    int status = 0;
    try {
        svtest::StandinClient client = svtest::StandinClient::FromEnvironment();
        status |= BenchTransfer(client);
    } catch (const std::exception& e) {
        std::printf("transfer: %s\n", e.what());
        status = 1;
    }
    status |= BenchTimeout();
    WSACleanup();
    return status;
}
