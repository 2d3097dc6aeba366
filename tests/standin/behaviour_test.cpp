// What tests can make the stand-in do to a path: hold answers back, send them slowly, close the
// connection, answer errors, broken XML or very large replies; and that it stays responsive.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "standin_client.h"
#include "standin_test_support.h"
#include "xml_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kFetch = "/sonavire/services/getLyricXML_2";
const std::string kLanguages = "/sonavire/services/getSupportedLanguages.php";
const std::string kVerify = "/sonavire/services/appVerifyUser.php";

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A request sent on a raw socket, for a client that leaves before the answer comes.
class PendingRequest {
public:
    PendingRequest(const svtest::StandinClient& client, const std::string& target) {
        const std::string hostPort = client.HostPort();
        const int port = std::stoi(hostPort.substr(hostPort.rfind(':') + 1));
        socket_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + hostPort + "\r\n\r\n";
        EXPECT_EQ(send(socket_, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    }
    ~PendingRequest() { close(socket_); }
    // Reads a little of the answer (blocks until something comes).
    std::string ReadSome() {
        char buffer[64];
        const ssize_t got = recv(socket_, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
    }

private:
    int socket_ = -1;
};

class StandinBehaviour : public ::testing::Test {
protected:
    void SetUp() override {
        client.ResetBehaviours();
        client.ClearRequests();
    }
    void TearDown() override { client.ResetBehaviours(); }

    svtest::StandinClient client = svtest::StandinClient::FromEnvironment();
    const std::string fetchNightTrain = kFetch + "?" + svtest::NineParameterQuery("Blue Harbour", "Night Train");
};

TEST_F(StandinBehaviour, DelayHoldsTheNormalAnswerBack) {
    const std::string normal = client.Get(kLanguages);
    client.SetBehaviour(kLanguages, "delay", 400);
    const auto start = Clock::now();
    EXPECT_EQ(client.Get(kLanguages), normal);
    EXPECT_GE(MillisecondsSince(start), 400);
    client.SetBehaviour(kLanguages, "none");
    EXPECT_EQ(client.Get(kLanguages), normal);
}

TEST_F(StandinBehaviour, SlowSendsTheNormalBodyInTimedPieces) {
    const std::string normal = client.Get(kLanguages);
    ASSERT_GT(normal.size(), 100u);
    client.SetBehaviour(kLanguages, "slow", 20, 0, 25);  // 25-byte pieces, 20 ms apart
    const auto start = Clock::now();
    const svtest::HttpReply reply = client.Send("GET", kLanguages);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, normal);
    EXPECT_GE(MillisecondsSince(start), static_cast<long long>((normal.size() - 1) / 25) * 20);
}

TEST_F(StandinBehaviour, CloseRecordsTheRequestAndAnswersNothing) {
    client.SetBehaviour(kFetch, "close");
    const svtest::HttpReply reply = client.Send("GET", fetchNightTrain);
    EXPECT_FALSE(reply.answered);
    EXPECT_THROW(client.Get(fetchNightTrain), std::runtime_error);
    ASSERT_EQ(client.Requests(kFetch).size(), 2u);
    EXPECT_EQ(client.Requests(kFetch)[0].Query("title"), "Night Train");
}

TEST_F(StandinBehaviour, StatusAnswersAnHtmlErrorPage) {
    client.SetBehaviour(kVerify, "status", 0, 404);
    svtest::HttpReply reply = client.Send("GET", kVerify + "?username=a&password=b");
    EXPECT_EQ(reply.status, 404);
    EXPECT_NE(reply.Header("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(reply.body.find("404 Not Found"), std::string::npos);
    client.SetBehaviour(kVerify, "status");  // no code: 500
    reply = client.Send("GET", kVerify + "?username=a&password=b");
    EXPECT_EQ(reply.status, 500);
    EXPECT_NE(reply.body.find("<html>"), std::string::npos);
    // Pages can fail too.
    client.SetBehaviour("/wiki/wmp/", "status", 0, 503);
    EXPECT_EQ(client.Send("GET", "/wiki/wmp/").status, 503);
}

TEST_F(StandinBehaviour, MalformedAnswersXmlThatNoReaderAccepts) {
    client.SetBehaviour(kFetch, "malformed");
    const svtest::HttpReply reply = client.Send("GET", fetchNightTrain);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.compare(0, 5, "<?xml"), 0);
    std::string error;
    EXPECT_FALSE(svtest::Parse(reply.body, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(StandinBehaviour, LargeAnswersAWellFormedReplyOfAboutTheSize) {
    client.SetBehaviour(kFetch, "large", 0, 0, 300000);
    const std::string body = client.Get(fetchNightTrain);
    EXPECT_GE(body.size(), 300000u);
    EXPECT_LE(body.size(), 300400u);
    const auto root = svtest::Parse(body);
    ASSERT_TRUE(root);
    const auto lines = root->Find("lyric")->Elements();
    ASSERT_GT(lines.size(), 4000u);
    EXPECT_EQ(svtest::DecodeTiming(*lines[4000]->Attribute("timing")), 4000000);

    client.SetBehaviour(kLanguages, "large", 0, 0, 50000);
    const auto languages = svtest::Parse(client.Get(kLanguages));
    ASSERT_TRUE(languages);
    EXPECT_GT(languages->Elements().size(), 1000u);
    EXPECT_NE(languages->Elements()[0]->Attribute("code"), nullptr);
}

TEST_F(StandinBehaviour, BehavioursApplyPerPathUntilReset) {
    client.SetBehaviour(kLanguages, "status", 0, 500);
    client.SetBehaviour(kVerify, "malformed");
    EXPECT_EQ(client.Send("GET", fetchNightTrain).status, 200);
    EXPECT_EQ(client.Send("GET", kLanguages).status, 500);
    EXPECT_EQ(client.Send("GET", kLanguages).status, 500);
    client.ResetBehaviours();
    EXPECT_EQ(client.Send("GET", kLanguages).status, 200);
    EXPECT_EQ(client.Get(kVerify + "?username=x&password=y"), "false");
    EXPECT_THROW(client.SetBehaviour(kLanguages, "explode"), std::runtime_error);
    EXPECT_THROW(client.SetBehaviour("", "delay", 10), std::runtime_error);
}

TEST_F(StandinBehaviour, HeldAnswerDoesNotBlockOtherRequestsAndItsClientMayLeave) {
    client.SetBehaviour(kLanguages, "delay", 600000);
    {
        PendingRequest held(client, kLanguages);
        ASSERT_EQ(client.WaitForRequests(kLanguages, 1).size(), 1u);
        const auto start = Clock::now();
        EXPECT_EQ(client.Get(kVerify + "?username=x&password=y"), "false");
        EXPECT_NE(client.Get(fetchNightTrain).find("Night Train"), std::string::npos);
        EXPECT_LT(MillisecondsSince(start), 60000);
    }  // the held client goes away; the server is stopped at the end of the run with the answer still held
    EXPECT_EQ(client.Get(kVerify + "?username=x&password=y"), "false");
}

TEST_F(StandinBehaviour, SlowAnswerToAClientThatLeftEndsQuietly) {
    client.SetBehaviour(kFetch, "slow", 5, 0, 1);  // a one-byte piece every 5 ms
    {
        PendingRequest leaving(client, fetchNightTrain);
        EXPECT_EQ(leaving.ReadSome().compare(0, 8, "HTTP/1.1"), 0);
    }
    // The server goes on writing into the closed connection until the write fails; meanwhile, and
    // after it, it keeps answering.
    const auto start = Clock::now();
    while (MillisecondsSince(start) < 300) {
        ASSERT_EQ(client.Get(kVerify + "?username=x&password=y"), "false");
    }
    client.SetBehaviour(kFetch, "none");
    EXPECT_NE(client.Get(fetchNightTrain).find("Night Train"), std::string::npos);
}

TEST_F(StandinBehaviour, ManyClientsAtOnceGetTheSameLines) {
    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < 16; ++i) {
        replies.push_back(std::async(std::launch::async, [this] {
            svtest::StandinClient own = svtest::StandinClient::FromEnvironment();
            const auto root = svtest::Parse(own.Get(fetchNightTrain));
            std::string texts;
            if (root) {
                for (const svtest::Node* line : root->Find("lyric")->Elements()) texts += line->TextContent() + "\n";
            }
            return texts;
        }));
    }
    const std::string first = replies[0].get();
    EXPECT_NE(first.find("Night train, carry me home"), std::string::npos);
    for (size_t i = 1; i < replies.size(); ++i) EXPECT_EQ(replies[i].get(), first);
    EXPECT_EQ(client.WaitForRequests(kFetch, 16, 5000).size(), 16u);
}

TEST_F(StandinBehaviour, WaitingForRequestsEndsAtTheDeadline) {
    const auto start = Clock::now();
    EXPECT_TRUE(client.WaitForRequests("/never/asked", 1, 200).empty());
    EXPECT_GE(MillisecondsSince(start), 200);
}

}  // namespace
