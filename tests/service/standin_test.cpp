// The retriever and the escaping against the stand-in lyrics service, over real HTTP.
#include "service/http_retriever.h"
#include "service/query_encoding.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "base/module_lock.h"
#include "base/utf.h"
#include "standin_client.h"

using sv::HttpRequest;
using sv::HttpRetriever;

namespace {

constexpr char kFetchPath[] = "/sonavire/services/getLyricXML_2";
constexpr char kVersionPath[] = "/sonavire/services/getLyricVerXML.php";
constexpr char kStorePath[] = "/sonavire/services/setLyrics.php";

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override {
        client_.ResetBehaviours();
        client_.ClearRequests();
    }
    void TearDown() override { client_.ResetBehaviours(); }

    std::string Url(const std::string& pathAndQuery) const { return client_.BaseUrl() + pathAndQuery; }

    svtest::StandinClient client_ = svtest::StandinClient::FromEnvironment();
};

std::string Get(const std::string& url, int* errorCode = nullptr) {
    HttpRetriever retriever;
    HttpRequest request;
    request.url = url.c_str();
    const char* reply = retriever.Run(request);
    if (errorCode) *errorCode = static_cast<int>(request.errorCode);
    return reply ? std::string(reply) : std::string("<null>");
}

}  // namespace

TEST_F(StandinTest, EscapedValuesArriveAsTheyWere) {
    const std::u16string titles[] = {u"C# Minor",
                                     u"100% Pure",
                                     u"Rock+Roll",
                                     u"Rock & Roll",
                                     u"a b=c",
                                     u"Canci\u00f3n",
                                     u"Caf\u00e9 & Bar",
                                     u"%26+%2B#x",
                                     u"?/=",
                                     u"two\r\nlines\t\x01\x1f\x7f",
                                     u"\"<>[]{}|\\^`'",
                                     u"\U0001F3B5 \u05e9\u05dc"};
    for (const std::u16string& title : titles) {
        const std::string expected = sv::Utf8FromUtf16(title);
        SCOPED_TRACE(expected);
        client_.ClearRequests();
        const std::string query = "?lang=&artist=" + sv::EncodeQueryValue(u"Blue Harbour") +
                                  "&title=" + sv::EncodeQueryValue(title) + "&album=&user=";
        Get(Url(kFetchPath + query));

        // A POST carries the same query in its path; the body is sent unchanged.
        const std::string body = "[00:01.00]" + expected + "\n";
        HttpRetriever retriever;
        HttpRequest post;
        const std::string postUrl = Url(kStorePath + query);
        post.url = postUrl.c_str();
        post.post = 1;
        post.body = body.c_str();
        ASSERT_NE(retriever.Run(post), nullptr);

        for (const char* path : {kFetchPath, kStorePath}) {
            const auto record = client_.Requests(path);
            ASSERT_EQ(record.size(), 1u) << path;
            EXPECT_EQ(record[0].Query("title"), expected) << path << " sent as " << record[0].rawTarget;
            EXPECT_EQ(record[0].Query("artist"), "Blue Harbour");
            EXPECT_EQ(record[0].QueryNames(), (std::vector<std::string>{"lang", "artist", "title", "album", "user"}));
        }
        const auto stored = client_.Requests(kStorePath);
        EXPECT_EQ(stored[0].method, "POST");
        EXPECT_EQ(stored[0].body, body);
    }
}

TEST_F(StandinTest, ErrorPagesAndLargeRepliesArriveAsSent) {
    for (int code : {404, 500}) {
        client_.SetBehaviour(kFetchPath, "status", 0, code);
        int errorCode = -1;
        const std::string reply = Get(Url(std::string(kFetchPath) + "?title=x"), &errorCode);
        EXPECT_EQ(errorCode, 0);
        EXPECT_EQ(reply, client_.Get(std::string(kFetchPath) + "?title=x")) << code;
        EXPECT_FALSE(reply.empty());
    }
    // An unknown page is a 404 page, and a reply like any other.
    EXPECT_EQ(Get(Url("/sonavire/services/noSuchService.php")), client_.Get("/sonavire/services/noSuchService.php"));

    client_.SetBehaviour("/wiki/large.php", "large", 0, 0, 20000);
    const std::string large = Get(Url("/wiki/large.php"));
    EXPECT_GE(large.size(), 19000u);
    EXPECT_EQ(large, client_.Get("/wiki/large.php"));

    // A server that closes without answering: Windows' WinINet fails the request (12152, so 505),
    // Wine's takes it for an empty answer. Either way no text comes.
    client_.SetBehaviour(kFetchPath, "close");
    int errorCode = 0;
    const std::string none = Get(Url(kFetchPath), &errorCode);
    EXPECT_TRUE((none == "<null>" && errorCode == 505) || (none.empty() && errorCode == 0)) << none << " " << errorCode;
}

TEST_F(StandinTest, ALateReplyIsDroppedByTheWorkerThatWaitedForIt) {
    const long baseline = sv::ModuleLockCount();
    client_.SetBehaviour(kVersionPath, "delay", 3500);
    const std::string url = Url(std::string(kVersionPath) + "?lang=&artist=a&title=b");
    const auto started = std::chrono::steady_clock::now();
    const auto reply = sv::RetrieveWithTimeout(url.c_str());
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(reply.has_value());
    EXPECT_GE(waited, std::chrono::milliseconds(2990));
    EXPECT_EQ(client_.WaitForRequests(kVersionPath, 1).size(), 1u);

    // The worker gets its reply about half a second later, drops it and lets go of the module.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (sv::ModuleLockCount() != baseline && std::chrono::steady_clock::now() < deadline) Sleep(10);
    EXPECT_EQ(sv::ModuleLockCount(), baseline);
}
