// Bad input from pages, generated with fixed seeds: thousands of calls of window.external's
// members (and of names it lacks) from JScript with missing and extra arguments; numbers, null,
// undefined, objects, functions and arrays where strings are expected; array-likes whose "length"
// is negative, huge, not a number or a getter that throws; elements that are not strings or whose
// getters call back into the bridge; and a position change whose "getCurrentTime" changes the
// position again. Run as JScript calls a host object and as a browser calls it. The bridge must
// answer every call, act only on what it understands, and keep working.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "settings/settings.h"
#include "web_test_support.h"

namespace {

using namespace svtest;

// Shared by every generated script: the page's helpers and its "getCurrentTime", which reports
// a position change every time the plug-in reads the position.
const wchar_t kPrelude[] =
    LR"(
var reentered = 0, failures = 0;
function thrower() {
  var o = {};
  Object.defineProperty(o, "length", {get: function () { throw new Error("no length"); }});
  return o;
}
function reentrant() {
  var o = {length: 3, 2: "sys_type"};
  Object.defineProperty(o, "0", {get: function () {
    reentered++;
    external.OnYouTubePlayStart();
    var inner = ["track_title"];
    external.OnYouTubeGetMediaInfo(inner);
    return inner[0] == "Night Train" ? "track_artist" : "wrong";
  }});
  Object.defineProperty(o, "1", {get: function () { return {toString: function () { throw new Error("x"); }}; }});
  return o;
}
function getCurrentTime() { external.OnYouTubePositionChange(); return {}; }
)";

const wchar_t* const kMembers[] = {L"IsOskelSonavire", L"OnYouTubePlayOpen", L"OnYouTubePlayStart",
                                   L"OnYouTubePlayPause", L"OnYouTubePlayStop", L"OnYouTubePlayEnd",
                                   L"OnYouTubePositionChange", L"OnYouTubeShowLyrics", L"OnYouTubeGetMediaInfo",
                                   L"OnYouTubeSetUser",
                                   // Names the bridge lacks: the call fails in the page.
                                   L"isoskelsonavire", L"OnYouTubePlayOpened", L"toString"};

const wchar_t* const kArguments[] = {L"\"\"",
                                     L"\"track_artist\"",
                                     L"\"TRACK_TITLE\"",
                                     L"\"user_password\"",
                                     L"\"sys_version\"",
                                     L"\"x\\u0000y\"",
                                     L"new Array(400).join(\"a\")",
                                     L"0",
                                     L"1",
                                     L"-1",
                                     L"3.75",
                                     L"1e300",
                                     L"NaN",
                                     L"Infinity",
                                     L"null",
                                     L"undefined",
                                     L"true",
                                     L"false",
                                     L"{}",
                                     L"[]",
                                     L"[\"track_artist\", \"word\", \"sys_version\"]",
                                     L"[1, null, {}, [\"track_lang\"]]",
                                     L"{length: -5}",
                                     L"{length: 1e10}",
                                     L"{length: \"many\"}",
                                     L"{length: 65538, 0: \"track_album\", 1: \"sys_type\"}",
                                     L"{length: 3000}",
                                     L"new Array(40)",
                                     L"thrower()",
                                     L"reentrant()",
                                     L"function () { return \"track_artist\"; }",
                                     L"external",
                                     L"new Date(0)"};

class Generator {
public:
    explicit Generator(uint32_t seed) : state_(seed) {}
    uint32_t Next(uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

private:
    uint32_t state_;
};

struct GeneratedScript {
    std::wstring code;
    std::map<std::wstring, int> calls;  // member name -> calls made
};

GeneratedScript Generate(uint32_t seed, int count) {
    Generator random(seed);
    GeneratedScript script;
    script.code = kPrelude;
    for (int i = 0; i < count; ++i) {
        const wchar_t* member = kMembers[random.Next(static_cast<uint32_t>(std::size(kMembers)))];
        ++script.calls[member];
        std::wstring call = L"try { external." + std::wstring(member) + L"(";
        const uint32_t arguments = random.Next(6);
        for (uint32_t a = 0; a < arguments; ++a) {
            call +=
                (a ? L", " : L"") + std::wstring(kArguments[random.Next(static_cast<uint32_t>(std::size(kArguments)))]);
        }
        script.code += call + L"); } catch (e) { failures++; }\n";
    }
    return script;
}

enum class Caller { kJScript, kBrowser };

class GeneratedBadInput : public testing::TestWithParam<Caller> {
protected:
    void SetUp() override {
        sv::Settings().SetCredentials(L"kestrel", L"s3cret");
        scope_.target.request.SetArtist(u"Blue Harbour");
        scope_.target.request.SetTitle(u"Night Train");
        baseline_ = scope_.bridge().ReferenceCount();
    }

    // Runs one generated script in a fresh page; the plug-in reads the page's position on every
    // position change, as it does with the page as the playback source.
    void RunPage(const std::wstring& code, std::wstring& reentered, std::wstring& failures,
                 std::vector<std::wstring>& errors) {
        if (GetParam() == Caller::kJScript) {
            ScriptHost page;
            page.AddItem(L"external", &scope_.bridge());
            ASSERT_TRUE(page.UseEs5());
            ASSERT_TRUE(page.Start());
            scope_.target.onEvent = [&](const std::string& event) {
                if (event == "position") page.CallFunction(L"getCurrentTime");
            };
            EXPECT_TRUE(page.Run(code));
            errors = page.errors;
            page.Run(L"reentered", &reentered);
            page.Run(L"failures", &failures);
            scope_.target.onEvent = nullptr;
        } else {
            PaneWindow window;
            sv::CSVPluginBrowse& pane = window.AddPane();
            ASSERT_TRUE(ShowPage(pane, L"about:blank"));
            scope_.target.onEvent = [&](const std::string& event) {
                if (event == "position") pane.PageGetCurrentTime();
            };
            sv::standin::StandinBrowser& browser = *StandinIn(pane);
            EXPECT_TRUE(browser.RunScript(code));
            errors = browser.ScriptErrors();
            reentered = PageValue(pane, L"reentered");
            failures = PageValue(pane, L"failures");
            scope_.target.onEvent = nullptr;
        }
    }

    int Count(const std::string& event) const {
        int n = 0;
        for (const std::string& seen : scope_.target.events) n += seen == event;
        return n;
    }

    sv::standin::ScopedStandinBrowser standin_;
    StandinKeyScope key_;
    BridgeScope scope_;
    long baseline_ = 0;
};

TEST_P(GeneratedBadInput, EveryCallIsAnsweredAndOnlyWhatIsUnderstoodActs) {
    for (const uint32_t seed : {20240601u, 7u, 99991u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        scope_.target.events.clear();
        const GeneratedScript script = Generate(seed, 1500);
        std::wstring reentered, failures;
        std::vector<std::wstring> errors;
        RunPage(script.code, reentered, failures, errors);
        // The engine reports a getter's throw that the bridge took (Wine's JScript does so even
        // when the caller takes the exception); nothing else fails, and no element's value is
        // asked of an object (its throwing toString would show).
        for (const std::wstring& error : errors) EXPECT_NE(std::wstring::npos, error.find(L"no length")) << error;
        const auto calls = [&](const wchar_t* member) {
            const auto found = script.calls.find(member);
            return found == script.calls.end() ? 0 : found->second;
        };

        // Only names the bridge lacks fail in the page; its own members always answer.
        EXPECT_EQ(std::to_wstring(calls(L"isoskelsonavire") + calls(L"OnYouTubePlayOpened") + calls(L"toString")),
                  failures);
        // Each event member raised its event once per call (the re-entering getters' own calls
        // included), whatever its arguments.
        EXPECT_EQ(calls(L"OnYouTubePlayStart") + _wtoi(reentered.c_str()), Count("play"));
        EXPECT_EQ(calls(L"OnYouTubePlayPause"), Count("pause"));
        EXPECT_EQ(calls(L"OnYouTubePlayStop"), Count("stop"));
        EXPECT_EQ(calls(L"OnYouTubePlayEnd"), Count("end"));
        EXPECT_EQ(calls(L"OnYouTubePlayOpen"), Count("open"));
        EXPECT_GE(calls(L"OnYouTubeShowLyrics"), Count("show") + Count("hide"));
        // A position change whose position read changes the position again stops after a few rounds.
        EXPECT_GE(Count("position"), calls(L"OnYouTubePositionChange"));
        EXPECT_LE(Count("position"), calls(L"OnYouTubePositionChange") * sv::CWebIDispatch::kMostNestedCalls);
        EXPECT_GT(_wtoi(reentered.c_str()), 0) << "the re-entering getter was read";

        // Nothing here is the community site: the credentials stayed; the page document holds texts.
        EXPECT_STREQ(L"kestrel", sv::Settings().userName);
        EXPECT_EQ(L"s3cret", sv::Settings().RevealPassword());
        EXPECT_EQ(sv::MediaSource::VideoPage, scope_.bridge().PageDocument().sourceKind);
        // Every reference a page took was given back.
        EXPECT_EQ(baseline_, scope_.bridge().ReferenceCount());
    }
    // And the bridge still serves a well-behaved page.
    ScriptHost page;
    page.AddItem(L"external", &scope_.bridge());
    ASSERT_TRUE(page.Start());
    std::wstring info;
    EXPECT_TRUE(
        page.Run(L"(function () { var a = ['track_artist', 'sys_version']; external.OnYouTubeGetMediaInfo(a);"
                 L"return a.join('|'); })()",
                 &info));
    EXPECT_EQ(L"|0.1.01.53", info) << "a page outside any pane is no trusted page: no track";
}

INSTANTIATE_TEST_SUITE_P(Callers, GeneratedBadInput, testing::Values(Caller::kJScript, Caller::kBrowser),
                         [](const testing::TestParamInfo<Caller>& info) {
                             return info.param == Caller::kJScript ? "CalledByJScript" : "CalledByABrowser";
                         });

}  // namespace
