// Test helpers for the lyrics-service requests: the plug-in key pointed at the stand-in service, a
// private cache folder, and a window with its message loop that receives fetched documents.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lyrics/lyrics_document.h"
#include "base/module_lock.h"
#include "base/utf.h"
#include "settings/settings.h"
#include "plugin_key_scope.h"
#include "service/lyrics_requests.h"
#include "service/server_hosts.h"
#include "standin_client.h"

namespace svtest {
using namespace sv;  // the tests of the service code read as the code itself

inline std::wstring WideAscii(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
inline std::u16string U16(const std::string& utf8) { return Utf16FromUtf8(utf8); }
inline std::string Utf8(const std::u16string& text) { return Utf8FromUtf16(text); }

// Waits, with a deadline, until every worker started so far has let go of the module (a fetch
// job lets go once it has delivered or dropped its document).
inline bool WaitForWorkersToEnd(long baseline, DWORD timeoutMs = 20000) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (ModuleLockCount() > baseline) {
        if (GetTickCount64() > deadline) return false;
        Sleep(1);
    }
    return true;
}

struct LyricsReply {
    WPARAM sequence = 0;
    std::unique_ptr<LyricsDocument> document;
};

// A message-only window and the loop that waits for WM_SV_LYRICS_READY.
class ReplyWindow {
public:
    // Takes the replies of fetcher.
    explicit ReplyWindow(LyricsFetcher& fetcher) : fetcher_(fetcher) {
        hwnd_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~ReplyWindow() { Destroy(); }
    ReplyWindow(const ReplyWindow&) = delete;
    ReplyWindow& operator=(const ReplyWindow&) = delete;

    HWND get() const { return hwnd_; }
    void Destroy() {
        if (!hwnd_) return;
        fetcher_.DiscardQueuedReplies(hwnd_);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }

    std::optional<LyricsReply> Wait(DWORD timeoutMs = 20000) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            MSG message;
            if (PeekMessageW(&message, hwnd_, WM_SV_LYRICS_READY, WM_SV_LYRICS_READY, PM_REMOVE)) {
                LyricsReply reply;
                reply.sequence = message.wParam;
                reply.document = fetcher_.TakeReply(message.wParam);
                return reply;
            }
            // Anything else in the queue is handled as a loop would.
            while (PeekMessageW(&message, nullptr, 0, WM_SV_LYRICS_READY - 1, PM_REMOVE) ||
                   PeekMessageW(&message, nullptr, WM_SV_LYRICS_READY + 1, 0xFFFFFFFF, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return std::nullopt;
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE);
        }
    }

    // The one reply of a fetch that is expected to answer; fails the test otherwise.
    std::unique_ptr<LyricsDocument> WaitForDocument(DWORD timeoutMs = 20000) {
        std::optional<LyricsReply> reply = Wait(timeoutMs);
        EXPECT_TRUE(reply.has_value()) << "no WM_SV_LYRICS_READY in time";
        if (!reply) return nullptr;
        EXPECT_NE(reply->document, nullptr);
        return std::move(reply->document);
    }

private:
    LyricsFetcher& fetcher_;
    HWND hwnd_ = nullptr;
};

// The plug-in key made fresh, its lyrics host pointing at the stand-in service; a private cache
// folder; a clean stand-in record. Tests that use it take the "registry" lock.
class RequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(key_.valid());
        PointAtStandin();
        client_.ResetBehaviours();
        client_.ClearRequests();

        ASSERT_TRUE(CreateDirectoryW(cacheFolder_.c_str(), nullptr));
        baseline_ = ModuleLockCount();
        ASSERT_NE(window_.get(), nullptr);
    }
    void TearDown() override {
        // Closing ends the fetcher's launcher; then every thread started here has ended.
        fetcher_.Close();
        EXPECT_TRUE(WaitForWorkersToEnd(baseline_)) << "a thread is still running";
        client_.ResetBehaviours();
        for (const std::wstring& name : CacheFiles()) DeleteFileW((cacheFolder_ + L"\\" + name).c_str());
        RemoveDirectoryW(cacheFolder_.c_str());
    }

    void PointAtStandin() { key_.SetText(kLyricsHostValue, WideAscii(client_.HostPort())); }
    // A loopback port where nothing listens: the service is down.
    void PointAt(const std::string& hostPort) { key_.SetText(kLyricsHostValue, WideAscii(hostPort)); }

    std::vector<std::wstring> CacheFiles() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((cacheFolder_ + L"\\*.xml").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do names.push_back(found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }
    std::string ReadCacheFile(const std::wstring& name) const {
        std::string content;
        HANDLE file = CreateFileW((cacheFolder_ + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return content;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) content.append(buffer, read);
        CloseHandle(file);
        return content;
    }

    static ServiceQuerySettings QuerySettings(const std::u16string& user = u"") {
        ServiceQuerySettings settings;
        settings.userName = user;
        settings.deviceText = u"1000";
        settings.screenWidth = 1280;
        settings.screenHeight = 1024;
        return settings;
    }
    // A request as the main window makes it for a player item: status -3 preset.
    static LyricsDocument Request(const std::string& artist, const std::string& title, const std::string& album = "") {
        LyricsDocument request;
        request.SetArtist(U16(artist));
        request.SetTitle(U16(title));
        request.SetAlbum(U16(album));
        request.sourceKind = MediaSource::Player;
        request.status = LyricsStatus::NotFound;
        return request;
    }

    // Starts a fetch for the window and waits for its document.
    std::unique_ptr<LyricsDocument> Fetch(const LyricsDocument& request, const ServiceQuerySettings& settings) {
        const WPARAM sequence = fetcher_.StartLyricsFetch(window_.get(), request, settings);
        EXPECT_NE(sequence, 0u);
        std::optional<LyricsReply> reply = window_.Wait();
        EXPECT_TRUE(reply.has_value()) << "no WM_SV_LYRICS_READY in time";
        if (!reply) return nullptr;
        EXPECT_EQ(reply->sequence, sequence);
        return std::move(reply->document);
    }
    std::unique_ptr<LyricsDocument> Fetch(const LyricsDocument& request) { return Fetch(request, QuerySettings()); }

    // A cache folder of its own for each test.
    static std::wstring NewCacheFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        return std::wstring(temp) + L"sonavire-requests-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(++folderCount_);
    }

    PluginKeyScope key_;
    svtest::StandinClient client_ = svtest::StandinClient::FromEnvironment();
    static inline int folderCount_ = 0;
    std::wstring cacheFolder_ = NewCacheFolder();
    long baseline_ = 0;
    LyricsFetcher fetcher_{AsU16(cacheFolder_.c_str())};
    ReplyWindow window_{fetcher_};
};

}  // namespace svtest
