// The retriever against a loopback server that records the exact bytes of each request.
#include "service/http_retriever.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "loopback_server.h"
#include "base/module_lock.h"

using sv::HttpRequest;
using sv::HttpRetriever;
using svtest::LoopbackServer;

namespace {

bool HasHeader(const std::string& request, const std::string& line) {
    return request.find("\r\n" + line + "\r\n") != std::string::npos;
}

// Waits, with a deadline, until every retrieval worker has let go of the module.
bool ModuleLocksReturnTo(long baseline, std::chrono::milliseconds deadline = std::chrono::seconds(15)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (sv::ModuleLockCount() != baseline) {
        if (std::chrono::steady_clock::now() > end) return false;
        Sleep(10);
    }
    return true;
}

std::string Pattern(size_t size) {
    std::string text;
    for (size_t i = 0; i < size; ++i) text += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return text;
}

}  // namespace

TEST(HttpRetriever, GetSendsItsAgentAndNoCookies) {
    LoopbackServer server;
    server.SetResponse(
        "HTTP/1.1 200 OK\r\nSet-Cookie: session=abc; Path=/\r\nContent-Length: 5\r\nConnection: close\r\n\r\nfirst");
    HttpRetriever retriever;
    const std::string url = server.BaseUrl() + "/sonavire/services/getLyricXML_2?lang=&artist=A%26B";
    HttpRequest request;
    request.url = url.c_str();
    const char* reply = retriever.Run(request);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(reply, "first");
    EXPECT_EQ(request.errorCode, sv::NetworkError::None);

    server.SetBody("second");
    HttpRequest again;
    again.url = url.c_str();
    reply = retriever.Run(again);  // the same retriever replaces its reply
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(reply, "second");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(LoopbackServer::RequestLineOf(requests[0]),
              "GET /sonavire/services/getLyricXML_2?lang=&artist=A%26B HTTP/1.1");
    EXPECT_TRUE(HasHeader(requests[0], "User-Agent: HTTP Retriever")) << requests[0];
    EXPECT_NE(requests[0].find("no-cache"), std::string::npos) << requests[0];
    EXPECT_EQ(requests[1].find("Cookie"), std::string::npos) << requests[1];
}

TEST(HttpRetriever, PostSendsTheBodyAsGivenWithTheFormContentType) {
    LoopbackServer server;
    const std::string url = server.BaseUrl() + "/sonavire/services/setLyrics.php?lang=&artist=Caf%c3%a9 Bar&title=x";
    const char body[] = "[00:01.00]line one\n[00:02.50]a&b=c %41\0after the nul";
    struct Case {
        int32_t length;
        std::string expected;
    };
    for (const Case& c : {Case{-1, "[00:01.00]line one\n[00:02.50]a&b=c %41"}, Case{0, ""}, Case{5, "[00:0"}}) {
        HttpRetriever retriever;
        HttpRequest request;
        request.url = url.c_str();
        request.post = 1;
        request.body = body;
        request.bodyLength = c.length;
        ASSERT_NE(retriever.Run(request), nullptr) << c.length;
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    const char* expectedBodies[] = {"[00:01.00]line one\n[00:02.50]a&b=c %41", "", "[00:0"};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        // The query stays in the request path; the escapes in it go out as they are.
        EXPECT_EQ(LoopbackServer::RequestLineOf(requests[i])
                      .rfind("POST /sonavire/services/setLyrics.php?lang=&artist=Caf%c3%a9", 0),
                  0u)
            << requests[i];
        EXPECT_TRUE(HasHeader(requests[i], "Content-Type: application/x-www-form-urlencoded")) << requests[i];
        EXPECT_TRUE(HasHeader(requests[i], "Content-Length: " + std::to_string(std::strlen(expectedBodies[i]))))
            << requests[i];
        EXPECT_EQ(LoopbackServer::BodyOf(requests[i]), expectedBodies[i]);
        EXPECT_EQ(requests[i].find("Cookie"), std::string::npos);
    }
}

TEST(HttpRetriever, SpacesInTheQueryNeverBreakTheRequestLine) {
    // Query values keep their spaces (the escaping leaves them); WinINet must send them escaped.
    LoopbackServer server;
    for (uint8_t post : {0, 1}) {
        HttpRetriever retriever;
        const std::string url = server.BaseUrl() + "/p?artist=Blue Harbour&title=a b=c";
        HttpRequest request;
        request.url = url.c_str();
        request.post = post;
        ASSERT_NE(retriever.Run(request), nullptr);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(LoopbackServer::RequestLineOf(requests[0]), "GET /p?artist=Blue%20Harbour&title=a%20b=c HTTP/1.1");
    EXPECT_EQ(LoopbackServer::RequestLineOf(requests[1]), "POST /p?artist=Blue%20Harbour&title=a%20b=c HTTP/1.1");
}

TEST(HttpRetriever, EmptyAndUnsizedBodiesAreText) {
    // Error pages and large replies: see the tests against the stand-in service.
    LoopbackServer server;
    const std::string url = server.BaseUrl() + "/x";
    for (const auto& [response, expected] :
         {std::pair<std::string, std::string>{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", ""},
          {"HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n", ""},
          {"HTTP/1.0 200 OK\r\n\r\nuntil the connection ends", "until the connection ends"}}) {
        server.SetResponse(response);
        HttpRetriever retriever;
        HttpRequest request;
        request.url = url.c_str();
        const char* reply = retriever.Run(request);
        ASSERT_NE(reply, nullptr) << "an empty body is the empty text, not a failure";
        EXPECT_EQ(std::string(reply), expected);
        EXPECT_EQ(request.errorCode, sv::NetworkError::None);
    }
}

TEST(HttpRetriever, ANulByteCutsOnlyTheChunkItIsIn) {
    LoopbackServer server;
    std::string body = Pattern(20000);
    body[5] = '\0';
    server.SetBody(body);
    HttpRetriever retriever;
    const std::string url = server.BaseUrl() + "/nul";
    HttpRequest request;
    request.url = url.c_str();
    const char* reply = retriever.Run(request);
    ASSERT_NE(reply, nullptr);
    const std::string text = reply;
    // The first five bytes, then what follows the first chunk: the rest of that chunk (at most
    // 8191 bytes in all) is lost, later chunks are kept.
    ASSERT_GE(text.size(), 5u);
    EXPECT_EQ(text.substr(0, 5), body.substr(0, 5));
    const size_t resumeAt = body.size() - (text.size() - 5);
    EXPECT_GT(resumeAt, 5u);
    EXPECT_LE(resumeAt, 8191u);
    EXPECT_EQ(text.substr(5), body.substr(resumeAt));
}

TEST(HttpRetriever, FailuresGiveConnectionErrorCodes) {
    SetLastError(12029);
    EXPECT_EQ(sv::MapConnectionError(), sv::NetworkError::ServerUnreachable);
    SetLastError(12028);
    EXPECT_EQ(sv::MapConnectionError(), sv::NetworkError::ServerUnreachable);
    SetLastError(12030);
    EXPECT_EQ(sv::MapConnectionError(), sv::NetworkError::ServerUnreachable);
    SetLastError(12015);
    EXPECT_EQ(sv::MapConnectionError(), sv::NetworkError::LoginFailed);
    SetLastError(12007);
    EXPECT_EQ(sv::MapConnectionError(), sv::NetworkError::RequestFailed);
    SetLastError(12031);
    EXPECT_EQ(sv::MapConnectionError(), sv::NetworkError::RequestFailed);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(sv::MapConnectionError(), sv::NetworkError::RequestFailed);

    // A real refused connection, for GET and for POST.
    const std::string url = "http://127.0.0.1:" + std::to_string(svtest::ClosedLoopbackPort()) + "/x?y=1";
    for (uint8_t post : {0, 1}) {
        HttpRetriever retriever;
        HttpRequest request;
        request.url = url.c_str();
        request.post = post;
        request.body = "b";
        EXPECT_EQ(retriever.Run(request), nullptr);
        EXPECT_EQ(request.errorCode, sv::NetworkError::ServerUnreachable) << "post " << int(post);
    }

    // Not a URL WinINet can split or open.
    for (uint8_t post : {0, 1}) {
        HttpRetriever retriever;
        HttpRequest request;
        request.url = "no url at all";
        request.post = post;
        EXPECT_EQ(retriever.Run(request), nullptr);
        EXPECT_EQ(request.errorCode, sv::NetworkError::RequestFailed) << "post " << int(post);
    }

    // No URL: no reply and the code is left alone.
    HttpRetriever retriever;
    HttpRequest request;
    request.errorCode = sv::NetworkError::LoginFailed;
    EXPECT_EQ(retriever.Run(request), nullptr);
    EXPECT_EQ(request.errorCode, sv::NetworkError::LoginFailed);
}

TEST(HttpRetriever, ASilentServerEndsTheRequestWithinItsTimeouts) {
    LoopbackServer server;
    server.SetBody("in time");
    const std::string url = server.BaseUrl() + "/sonavire/services/setLyrics.php?title=x";
    HttpRetriever standard;
    HttpRequest first;
    first.url = url.c_str();
    ASSERT_NE(standard.Run(first), nullptr);

    // A server that takes the request and never answers: GET and POST fail by the receive limit.
    server.HoldReplies(true);
    for (uint8_t post : {0, 1}) {
        HttpRetriever retriever(sv::HttpTimeouts{500, 500, 500});
        HttpRequest request;
        request.url = url.c_str();
        request.post = post;
        request.body = "[00:01.00]a";
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(retriever.Run(request), nullptr) << "post " << int(post);
        EXPECT_LT(GetTickCount64() - start, 4000u) << "post " << int(post);
        EXPECT_NE(request.errorCode, sv::NetworkError::None) << "post " << int(post);
    }
    server.HoldReplies(false);
}

TEST(HttpRetriever, AReplyLimitStopsReadingAHugeAnswer) {
    LoopbackServer server;
    server.SetBody(Pattern(400000));
    const std::string url = server.BaseUrl() + "/sonavire/services/appVerifyUser.php?username=a&password=b";
    HttpRetriever retriever;
    HttpRequest request;
    request.url = url.c_str();
    request.maxReplyBytes = 16;
    const char* reply = retriever.Run(request);
    ASSERT_NE(reply, nullptr);
    EXPECT_GT(std::strlen(reply), 16u);
    EXPECT_LE(std::strlen(reply), 16u + 8191u) << "one chunk past the limit at most";
}

TEST(RetrieveWithTimeout, GivesTheReplyOrNothing) {
    const long baseline = sv::ModuleLockCount();
    LoopbackServer server;
    server.SetBody("<languages/>");
    const std::string url = server.BaseUrl() + "/sonavire/services/getSupportedLanguages.php";
    auto reply = sv::RetrieveWithTimeout(url.c_str());
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, "<languages/>");

    server.SetBody("");
    reply = sv::RetrieveWithTimeout(url.c_str());
    ASSERT_TRUE(reply.has_value()) << "an empty body is a reply";
    EXPECT_EQ(*reply, "");

    const std::string refused = "http://127.0.0.1:" + std::to_string(svtest::ClosedLoopbackPort()) + "/";
    EXPECT_FALSE(sv::RetrieveWithTimeout(refused.c_str()).has_value());
    EXPECT_FALSE(sv::RetrieveWithTimeout(nullptr).has_value());
    EXPECT_TRUE(ModuleLocksReturnTo(baseline));
}

TEST(RetrieveWithTimeout, AnAbandonedWorkerFinishesOnItsOwnWithItsOwnUrl) {
    // The full 3000 ms against a slow server: see the tests against the stand-in service.
    const long baseline = sv::ModuleLockCount();
    LoopbackServer server;
    server.SetBody("too late");
    server.HoldReplies(true);
    {
        std::string url = server.BaseUrl() + "/sonavire/services/getLyricVerXML.php?title=first";
        EXPECT_FALSE(sv::RetrieveWithTimeout(url.c_str(), 200).has_value());
        // The caller's URL dies at once; the worker has its own copy.
        url.assign(url.size(), 'x');
    }
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_EQ(sv::ModuleLockCount(), baseline + 1) << "the waiting worker keeps the module loaded";
    server.HoldReplies(false);  // the late reply arrives and is dropped by the worker
    EXPECT_TRUE(ModuleLocksReturnTo(baseline));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(LoopbackServer::RequestLineOf(requests[0]),
              "GET /sonavire/services/getLyricVerXML.php?title=first HTTP/1.1");
}
