// The sign-in check against the stand-in service (its users) and a loopback server (answers the
// stand-in never gives), with the credentials stored in the real registry.
#include "service/sign_in.h"

#include <gtest/gtest.h>

#include "loopback_server.h"
#include "requests_fixture.h"

using namespace sv;
using namespace svtest;

namespace {

constexpr char kVerifyPath[] = "/sonavire/services/appVerifyUser.php";

class SignInCheck : public RequestsTest {
protected:
    void SetUp() override {
        RequestsTest::SetUp();
        PluginSettings& settings = Settings();
        savedUser_ = settings.userName;
        savedPassword_ = settings.RevealPassword();
        settings.SignOut();
    }
    void TearDown() override {
        PluginSettings& settings = Settings();
        settings.SetCredentials(savedUser_, savedPassword_);
        RequestsTest::TearDown();
    }
    std::wstring StoredText(const wchar_t* name) {
        auto value = key_.GetUser(name);
        if (!value) return L"<none>";
        std::wstring text = value->Text();
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    }

    std::wstring savedUser_, savedPassword_;
};

}  // namespace

TEST_F(SignInCheck, ValidCredentialsAreKeptAndStored) {
    client_.AddUser("anna & bo", "s3cret pw");
    const SignInOutcome outcome = SignIn(Settings(), L"anna & bo", L"s3cret pw");
    EXPECT_TRUE(outcome.signedIn);
    EXPECT_EQ(outcome.messageId, 211);
    EXPECT_STREQ(Settings().userName, L"anna & bo");
    EXPECT_EQ(Settings().RevealPassword(), L"s3cret pw");
    EXPECT_TRUE(Settings().IsSignedIn());
    EXPECT_EQ(StoredText(kUserNameValue), L"anna & bo");
    ASSERT_TRUE(key_.GetUser(kPasswordValue));
    EXPECT_EQ(key_.GetUser(kPasswordValue)->type, static_cast<DWORD>(REG_BINARY)) << "encrypted, not text";

    const auto record = client_.Requests(kVerifyPath);
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0].method, "GET");
    // The ampersand is escaped by the plug-in; WinINet escapes the spaces on its way out. The
    // record keeps passwords only as marks: the raw one as sent, and the one the server decoded.
    EXPECT_EQ(record[0].rawTarget,
              std::string(kVerifyPath) + "?username=anna%20%26%20bo&password=" + client_.PasswordMark("s3cret%20pw"));
    EXPECT_EQ(record[0].Query("username"), "anna & bo");
    EXPECT_EQ(record[0].Query("password"), client_.PasswordMark("s3cret pw"));
}

TEST_F(SignInCheck, RefusedCredentialsChangeNothing) {
    client_.AddUser("anna", "right");
    SignInOutcome outcome = SignIn(Settings(), L"anna", L"wrong");
    EXPECT_FALSE(outcome.signedIn);
    EXPECT_EQ(outcome.messageId, 209);
    EXPECT_STREQ(Settings().userName, L"");
    EXPECT_FALSE(key_.GetUser(kUserNameValue).has_value());

    // Empty fields are still sent, as empty values.
    outcome = SignIn(Settings(), L"", L"");
    EXPECT_EQ(outcome.messageId, 209);
    const auto record = client_.Requests(kVerifyPath);
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[1].rawTarget, std::string(kVerifyPath) + "?username=&password=");
    EXPECT_TRUE(record[1].HasQuery("username"));
    EXPECT_TRUE(record[1].HasQuery("password"));

    // A non-ASCII name goes as escaped UTF-8.
    client_.AddUser("J\u00fcrgen", "pw");
    outcome = SignIn(Settings(), L"J\u00fcrgen", L"pw");
    EXPECT_TRUE(outcome.signedIn);
    EXPECT_NE(client_.Requests(kVerifyPath).back().rawTarget.find("username=J%C3%BCrgen&"), std::string::npos);
}

TEST_F(SignInCheck, AnswerIsTrueInAnyCaseAndNothingElse) {
    LoopbackServer server;
    PointAt(server.BaseUrl().substr(7));
    for (const char* yes : {"TRUE", "True", "true"}) {
        Settings().userName[0] = L'\0';
        server.SetBody(yes);
        const SignInOutcome outcome = SignIn(Settings(), L"anna", L"pw");
        EXPECT_TRUE(outcome.signedIn) << yes;
        EXPECT_EQ(outcome.messageId, 211) << yes;
        EXPECT_STREQ(Settings().userName, L"anna");
    }
    Settings().SignOut();
    for (const char* no : {"true\n", "true\r\n", " true", "false", "", "<html>true</html>"}) {
        server.SetBody(no);
        const SignInOutcome outcome = SignIn(Settings(), L"anna", L"pw");
        EXPECT_FALSE(outcome.signedIn) << no;
        EXPECT_EQ(outcome.messageId, 209) << no;
    }
    // An error page that says true is still an answer of true: the status is never examined.
    server.SetBody("true", "500 Internal Server Error");
    EXPECT_TRUE(SignIn(Settings(), L"anna", L"pw").signedIn);
}

TEST_F(SignInCheck, NoConnection) {
    PointAt("127.0.0.1:" + std::to_string(ClosedLoopbackPort()));
    const SignInOutcome outcome = SignIn(Settings(), L"anna", L"pw");
    EXPECT_FALSE(outcome.signedIn);
    EXPECT_EQ(outcome.messageId, 501);
    EXPECT_FALSE(key_.GetUser(kUserNameValue).has_value());

    // A server that drops the connection without an answer: Windows' WinINet fails the request
    // (501 here), Wine's takes it for an empty answer (a refusal). Never a sign-in.
    PointAtStandin();
    client_.SetBehaviour(kVerifyPath, "close");
    const SignInOutcome dropped = SignIn(Settings(), L"anna", L"pw");
    EXPECT_FALSE(dropped.signedIn);
    EXPECT_TRUE(dropped.messageId == 501 || dropped.messageId == 209) << dropped.messageId;
}

TEST_F(SignInCheck, TextsTheRecordCannotHoldAreNotSent) {
    client_.AddUser(std::string(260, 'u'), "pw");
    EXPECT_EQ(SignIn(Settings(), std::wstring(260, L'u'), L"pw").messageId, 209);
    EXPECT_EQ(SignIn(Settings(), L"anna", std::wstring(L"p\0w", 3)).messageId, 209);
    EXPECT_TRUE(client_.Requests(kVerifyPath).empty());
    // 259 characters fit.
    client_.AddUser(std::string(259, 'u'), "pw");
    EXPECT_TRUE(SignIn(Settings(), std::wstring(259, L'u'), L"pw").signedIn);
}
