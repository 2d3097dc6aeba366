// The installer as an administrator runs it, in a fresh prefix (scripts/installer-test.sh makes a
// 64-bit and a 32-bit one): a silent install registers both widths as regsvr32 does and the
// installed plug-in shows lyrics from the stand-in service; the settings key lets users write;
// an upgrade keeps the user's settings; a silent uninstall leaves only the cache and the settings;
// a registration that fails takes everything back.
#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings/plugin_identity.h"
#include "win_test_support.h"

namespace {

using namespace svtest;

constexpr wchar_t kFolder[] = L"C:\\Program Files\\Sonavire";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sonavire";
const std::wstring kClassKey = std::wstring(L"CLSID\\") + sv::kSonavireClsidText;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    GetEnvironmentVariableW(name, value, 1024);
    return value;
}

bool Is64BitPrefix() { return Environment(L"SONAVIRE_PREFIX_ARCH") == L"win64"; }

// The registry views the plug-in is registered in: both on 64-bit Windows.
std::vector<REGSAM> Views() {
    if (Is64BitPrefix()) return {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    return {KEY_WOW64_32KEY};
}

// Runs a program and waits for it (with a deadline); its exit code, or -1.
DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 120000) {
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return static_cast<DWORD>(-1);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring Text(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
    wchar_t value[1024] = {};
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return value;
    DWORD size = sizeof(value) - sizeof(wchar_t);
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return value;
}

void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS) return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Whether the Users group may read and write the key.
bool UsersMayWrite(const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | view, &key) != ERROR_SUCCESS) return false;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool granted = false;
    if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                        &descriptor) == ERROR_SUCCESS && acl) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID users = nullptr;
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &users);
        ACL_SIZE_INFORMATION size{};
        GetAclInformation(acl, &size, sizeof(size), AclSizeInformation);
        for (DWORD i = 0; i < size.AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                EqualSid(&ace->SidStart, users) && (ace->Mask & (KEY_READ | KEY_WRITE)) == (KEY_READ | KEY_WRITE))
                granted = true;
        }
        FreeSid(users);
        LocalFree(descriptor);
    }
    RegCloseKey(key);
    return granted;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The stand-in player with the installed plug-in, Night Train playing: the lines its lyrics pane
// showed, as a screen reader reads them.
std::string LinesReadBy(const std::wstring& player) {
    const std::wstring folder = ExecutableFolder();
    const std::wstring playlist = folder + L"installer-playlist.txt";
    const std::wstring log = folder + L"installer-player.log";
    {
        FILE* out = _wfopen(playlist.c_str(), L"wb");
        if (out) {
            std::fputs("Blue Harbour\tNight Train\tFirst Light\taudio\t30\n", out);
            std::fclose(out);
        }
    }
    RunProgram(L"\"" + player + L"\" --playlist \"" + playlist + L"\" --play --read-lyrics --log \"" + log +
        L"\" --quit-after 4");
    std::string lines;
    if (FILE* in = _wfopen(log.c_str(), L"rb")) {
        char line[1024];
        while (std::fgets(line, sizeof(line), in)) {
            if (std::strstr(line, "player.reads(")) lines += line;
        }
        std::fclose(in);
    }
    return lines;
}

TEST(Installer, InstallsUpgradesUninstallsAndRollsBack) {
    const std::wstring setup = Environment(L"SONAVIRE_SETUP");
    ASSERT_FALSE(setup.empty());
    const std::wstring pluginKey = sv::kPluginKey;
    const std::vector<std::wstring> playerEntry = {L"Capabilities", L"Description", L"FriendlyName"};

    ASSERT_EQ(0u, RunProgram(L"\"" + setup + L"\" /S"));
    for (const REGSAM view : Views()) {
        SCOPED_TRACE(view == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
        const std::wstring dll = std::wstring(kFolder) + (view == KEY_WOW64_64KEY ? L"\\x64" : L"") + L"\\Sonavire.dll";
        EXPECT_EQ(dll, Text(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", nullptr, view));
        EXPECT_EQ(L"Apartment", Text(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", L"ThreadingModel", view));
        EXPECT_EQ(playerEntry, ValueNames(HKEY_LOCAL_MACHINE, pluginKey, view)) << "exactly as regsvr32 writes it";
        EXPECT_TRUE(UsersMayWrite(pluginKey, view)) << "standard users store their sign-in and settings";
        SetText(pluginKey, L"Lyrics Host", StandinHost(), view);
        SetText(pluginKey, L"Community Host", StandinHost(), view);
    }
    EXPECT_TRUE(FileExists(std::wstring(kFolder) + L"\\Offline\\OfflineSV.htm"));
    EXPECT_EQ(L"0.1.01.53", Text(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", KEY_WOW64_32KEY));
    EXPECT_EQ(L"Sonavire", Text(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher", KEY_WOW64_32KEY));

    // The installed plug-in in the player of each width.
    std::vector<std::wstring> players = {Environment(L"SONAVIRE_PLAYER32")};
    if (Is64BitPrefix()) players.push_back(Environment(L"SONAVIRE_PLAYER64"));
    for (const std::wstring& player : players) {
        EXPECT_NE(std::string::npos, LinesReadBy(player).find(") \xE2\x99\xAA")) << "the first line, shown";
    }

    // An upgrade over the first install keeps the user's settings.
    SetText(pluginKey, L"UserName", L"anna", KEY_WOW64_32KEY);
    ASSERT_EQ(0u, RunProgram(L"\"" + setup + L"\" /S"));
    EXPECT_EQ(L"anna", Text(HKEY_LOCAL_MACHINE, pluginKey, L"UserName", KEY_WOW64_32KEY));
    EXPECT_TRUE(FileExists(std::wstring(kFolder) + L"\\Sonavire.dll"));

    // A silent uninstall (run in place, so it can be waited for) keeps the cache and the settings.
    ASSERT_EQ(0u, RunProgram(L"\"" + std::wstring(kFolder) + L"\\Uninstall.exe\" /S _?=" + kFolder));
    for (const REGSAM view : Views()) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, view));
        const std::vector<std::wstring> left = ValueNames(HKEY_LOCAL_MACHINE, pluginKey, view);
        EXPECT_EQ(left.end(), std::find(left.begin(), left.end(), L"FriendlyName")) << "no player entry";
    }
    EXPECT_EQ(L"anna", Text(HKEY_LOCAL_MACHINE, pluginKey, L"UserName", KEY_WOW64_32KEY));
    EXPECT_FALSE(FileExists(std::wstring(kFolder) + L"\\Sonavire.dll"));
    EXPECT_FALSE(FileExists(std::wstring(kFolder) + L"\\x64\\Sonavire.dll"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));
    WIN32_FIND_DATAW found;
    const HANDLE cache = FindFirstFileW((std::wstring(kFolder) + L"\\*.xml").c_str(), &found);
    EXPECT_NE(INVALID_HANDLE_VALUE, cache) << "the lyrics cache stays";
    if (cache != INVALID_HANDLE_VALUE) FindClose(cache);

    // A folder whose path the registration cannot hold: nothing stays behind.
    const std::wstring deep = L"C:\\" + std::wstring(130, L'd') + L"\\" + std::wstring(130, L'e');
    EXPECT_NE(0u, RunProgram(L"\"" + setup + L"\" /S /D=" + deep));
    EXPECT_FALSE(FileExists(deep + L"\\Sonavire.dll"));
    for (const REGSAM view : Views()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, view));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));
}

}  // namespace
