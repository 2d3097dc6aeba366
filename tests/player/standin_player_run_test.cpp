// One run of the standin-player executable: it starts, shows its "WMPlayerApp" window, plays,
// records, takes a picture and exits cleanly when the plug-in class is not registered.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/win_handles.h"

namespace {

std::wstring PlayerExecutable() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory = path;
    directory.erase(directory.find_last_of(L"\\/"));
    // Both live in the same build tree: tests/player and tools/standin-player.
    return directory + L"\\..\\..\\tools\\standin-player\\standin-player.exe";
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t directory[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, directory);
    return std::wstring(directory) + name;
}

std::string ReadFileText(const std::wstring& path) {
    sv::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

struct FindByProcess {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchPlayerWindow(HWND hwnd, LPARAM parameter) {
    auto* search = reinterpret_cast<FindByProcess*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    if (processId == search->processId && std::wstring(className) == L"WMPlayerApp" &&
        std::wstring(title) == L"Windows Media Player" && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct PlayerRun {
    DWORD exitCode = STILL_ACTIVE;
    bool windowSeen = false;
};

// Runs the player to its end (at most 30 s); onWindow runs once its window is up.
PlayerRun RunPlayer(const std::wstring& arguments, bool lookForWindow,
                    const std::function<void(HWND)>& onWindow = nullptr) {
    std::wstring commandLine = L"\"" + PlayerExecutable() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    PlayerRun run;
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start the player, error " << GetLastError();
        return run;
    }
    sv::UniqueKernelHandle processHandle(process.hProcess);
    sv::UniqueKernelHandle threadHandle(process.hThread);
    const DWORD deadline = GetTickCount() + 30000;
    while (WaitForSingleObject(processHandle.get(), 20) == WAIT_TIMEOUT && GetTickCount() < deadline) {
        if (lookForWindow && !run.windowSeen) {
            FindByProcess search{process.dwProcessId, nullptr};
            EnumWindows(MatchPlayerWindow, reinterpret_cast<LPARAM>(&search));
            run.windowSeen = search.found != nullptr;
            if (run.windowSeen && onWindow) onWindow(search.found);
        }
    }
    if (WaitForSingleObject(processHandle.get(), 0) == WAIT_TIMEOUT) {
        ADD_FAILURE() << "the player did not exit in time";
        TerminateProcess(processHandle.get(), 99);
    }
    GetExitCodeProcess(processHandle.get(), &run.exitCode);
    return run;
}

TEST(StandinPlayerRunTest, PlaysRecordsTakesAPictureAndExitsWithoutThePlugin) {
    const std::wstring log = TempPath(L"sonavire-player-run.log");
    const std::wstring picture = TempPath(L"sonavire-player-run.bmp");
    DeleteFileW(log.c_str());
    DeleteFileW(picture.c_str());
    const PlayerRun run = RunPlayer(L"--clsid {5B0E7C2D-1A3F-4E68-B9D0-2C4F6A8E1B37} --play --log \"" + log +
                                        L"\" --at 0.3 pause --at 0.4 \"snapshot=" + picture + L"\" --quit-after 0.5",
                                    true);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.windowSeen);

    const std::string text = ReadFileText(log);
    for (const char* expected : {"plugin.CoCreateInstance({5B0E7C2D-1A3F-4E68-B9D0-2C4F6A8E1B37}) -> 0x80040154",
                                 "event.OpenStateChange(13)", "event.PlayStateChange(3)", "player.pause",
                                 "event.PlayStateChange(2)", "saved", "player.quit", "player.exit"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " missing from:\n" << text;
    }
    EXPECT_LT(text.find("player.pause"), text.find("player.quit"));

    const std::string bitmap = ReadFileText(picture);
    ASSERT_GT(bitmap.size(), 54u);
    EXPECT_EQ(bitmap.compare(0, 2, "BM"), 0);
    DeleteFileW(log.c_str());
    DeleteFileW(picture.c_str());
}

TEST(StandinPlayerRunTest, EndsCleanlyWhenAnInstallerPostsItWmQuit) {
    const std::wstring log = TempPath(L"sonavire-player-quit.log");
    DeleteFileW(log.c_str());
    // What registration does to a running player: WM_QUIT posted to its window.
    const PlayerRun run = RunPlayer(L"--clsid {5B0E7C2D-1A3F-4E68-B9D0-2C4F6A8E1B37} --play --log \"" + log + L"\"",
                                    true, [](HWND player) { PostMessageW(player, WM_QUIT, 0, 0); });
    EXPECT_TRUE(run.windowSeen);
    EXPECT_EQ(run.exitCode, 0u);
    const std::string text = ReadFileText(log);
    EXPECT_NE(text.find("player.exit"), std::string::npos) << text;
    EXPECT_EQ(text.find("player.quit"), std::string::npos) << "no scripted quit was asked for";
    DeleteFileW(log.c_str());
}

TEST(StandinPlayerRunTest, ABadCommandLineIsRefused) {
    EXPECT_EQ(RunPlayer(L"--at soon play", false).exitCode, 2u);
    EXPECT_EQ(RunPlayer(L"--playlist Z:\\nonexistent\\playlist.txt", false).exitCode, 2u);
}

}  // namespace
