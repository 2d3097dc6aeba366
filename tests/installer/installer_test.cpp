// The installer as an administrator runs it, in a fresh prefix (scripts/installer-test.sh makes a
// 64-bit and a 32-bit one): a silent install registers both widths as regsvr32 does and the
// installed plug-in shows lyrics from the stand-in service; no standard user may change a file,
// folder or the settings key; an upgrade from a version that let them, and kept the sign-in in
// HKLM, takes that back; a silent uninstall leaves each user's own state; a registration that
// fails takes everything back; setup refuses a linked or foreign folder and ignores a mutex
// another user made.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

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

void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view,
             HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr)) return;
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

// Whether a standard user (Users, Everyone, Authenticated Users, INTERACTIVE; not Administrators)
// may change the object: by owning it, or through an entry of its DACL that grants a write right.
bool StandardUserMayChange(PSECURITY_DESCRIPTOR descriptor, DWORD writeRights) {
    PSID owner = nullptr;
    PACL acl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl)
        return true;
    const auto standard = [](PSID sid) {
        for (const auto type : {WinBuiltinUsersSid, WinWorldSid, WinAuthenticatedUserSid, WinInteractiveSid})
            if (sid && IsWellKnownSid(sid, type)) return true;
        return false;
    };
    bool may = standard(owner);
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            (ace->Mask & writeRights) && standard(&ace->SidStart))
            may = true;
    }
    LocalFree(descriptor);
    return may;
}

constexpr DWORD kKeyWrites = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER |
                             GENERIC_WRITE | GENERIC_ALL;

bool StandardUserMayChangeKey(const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | view, &key) != ERROR_SUCCESS) return true;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, nullptr, nullptr, &descriptor);
    RegCloseKey(key);
    return read != ERROR_SUCCESS || StandardUserMayChange(descriptor, kKeyWrites);
}

// Wine reports a file's security from its Unix modes and keeps only what those can hold (an entry
// for Everyone, not one for Users), so under Wine this checks the security the prefix reports after
// setup: no grant setup asked for that Wine could keep shows up there. On Windows it is the real one.
bool StandardUserMayChangeFile(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read =
        GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor);
    constexpr DWORD kFileWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                  FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    return read != ERROR_SUCCESS || StandardUserMayChange(descriptor, kFileWrites);
}

void ExpectNoStandardUserMayChange(const std::wstring& path) {
    EXPECT_FALSE(StandardUserMayChangeFile(path)) << "standard users change " << path;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (std::wcscmp(found.cFileName, L".") && std::wcscmp(found.cFileName, L".."))
            ExpectNoStandardUserMayChange(path + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Grants what earlier versions did: the Users group write access to the key (view) or, on the
// folder (no view), Everyone, the nearest Wine keeps.
void GrantAsEarlierVersions(const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
            view ? L"D:(A;CI;KRKW;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)" : L"D:(A;OICI;FA;;;WD)(A;OICI;FA;;;BA)",
            SDDL_REVISION_1, &descriptor, nullptr) &&
        GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted)) {
        if (!view)
            SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, acl, nullptr);
        else if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | view, &key) == ERROR_SUCCESS)
            SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    }
    LocalFree(descriptor);
    if (key) RegCloseKey(key);
}

// A mutex of setup's name, owned as the descriptor says.
HANDLE SetupMutexOwnedBy(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    const HANDLE mutex = CreateMutexW(&attributes, FALSE, L"Global\\SonavireSetup");
    LocalFree(descriptor);
    return mutex;
}

std::wstring OwnUserSid() {
    HANDLE token = nullptr;
    BYTE buffer[256] = {};
    DWORD size = sizeof(buffer);
    wchar_t* text = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, size, &size))
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    const std::wstring sid = text ? text : L"";
    LocalFree(text);
    CloseHandle(token);
    return sid;
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

    // Mutexes of setup's names that another user could make first do not stop it.
    const HANDLE oldName = CreateMutexW(nullptr, FALSE, L"SonavireSetupRunning");
    const HANDLE squatted = SetupMutexOwnedBy(L"O:" + OwnUserSid() + L"D:(A;;GA;;;WD)");
    ASSERT_NE(nullptr, squatted);
    ASSERT_EQ(0u, RunProgram(L"\"" + setup + L"\" /S"));
    CloseHandle(squatted);
    CloseHandle(oldName);
    const HANDLE running = SetupMutexOwnedBy(L"O:BAD:(A;;GA;;;BA)");
    EXPECT_EQ(3u, RunProgram(L"\"" + setup + L"\" /S")) << "a setup that runs already";
    CloseHandle(running);

    ExpectNoStandardUserMayChange(kFolder);
    for (const REGSAM view : Views()) {
        SCOPED_TRACE(view == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
        const std::wstring dll = std::wstring(kFolder) + (view == KEY_WOW64_64KEY ? L"\\x64" : L"") + L"\\Sonavire.dll";
        EXPECT_EQ(dll, Text(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", nullptr, view));
        EXPECT_EQ(L"Apartment", Text(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", L"ThreadingModel", view));
        EXPECT_EQ(playerEntry, ValueNames(HKEY_LOCAL_MACHINE, pluginKey, view)) << "exactly as regsvr32 writes it";
        EXPECT_FALSE(StandardUserMayChangeKey(pluginKey, view));
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

    // An upgrade from the layout that let users write the key and the folder, with the one
    // sign-in in plain text there and the shared cache: the sign-in, the grant and the cache go, the
    // machine-wide settings stay.
    const std::wstring oldCache = std::wstring(kFolder) + L"\\Blue Harbour][Night Train.xml";
    CloseHandle(CreateFileW(oldCache.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    GrantAsEarlierVersions(kFolder, 0);
    ASSERT_TRUE(StandardUserMayChangeFile(kFolder));
    for (const REGSAM view : Views()) {
        SetText(pluginKey, L"UserName", L"anna", view);
        SetText(pluginKey, L"Password", L"secret", view);
        SetText(pluginKey, L"Translation", L"de", view);
        GrantAsEarlierVersions(pluginKey, view);
        ASSERT_TRUE(StandardUserMayChangeKey(pluginKey, view));
    }
    ASSERT_EQ(0u, RunProgram(L"\"" + setup + L"\" /S"));
    for (const REGSAM view : Views()) {
        EXPECT_EQ(L"", Text(HKEY_LOCAL_MACHINE, pluginKey, L"UserName", view));
        EXPECT_EQ(L"", Text(HKEY_LOCAL_MACHINE, pluginKey, L"Password", view));
        EXPECT_EQ(L"de", Text(HKEY_LOCAL_MACHINE, pluginKey, L"Translation", view));
        EXPECT_EQ(StandinHost(), Text(HKEY_LOCAL_MACHINE, pluginKey, L"Lyrics Host", view));
        EXPECT_FALSE(StandardUserMayChangeKey(pluginKey, view));
    }
    EXPECT_FALSE(FileExists(oldCache));
    EXPECT_TRUE(FileExists(std::wstring(kFolder) + L"\\Sonavire.dll"));
    ExpectNoStandardUserMayChange(kFolder);

    // A silent uninstall (run in place, so it can be waited for) removes the machine-wide sign-in and
    // keeps the machine-wide settings and the user's own.
    SetText(pluginKey, L"Password", L"secret", KEY_WOW64_32KEY);
    SetText(L"Software\\Sonavire", L"UserName", L"anna", 0, HKEY_CURRENT_USER);
    ASSERT_EQ(0u, RunProgram(L"\"" + std::wstring(kFolder) + L"\\Uninstall.exe\" /S _?=" + kFolder));
    for (const REGSAM view : Views()) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, view));
        const std::vector<std::wstring> left = ValueNames(HKEY_LOCAL_MACHINE, pluginKey, view);
        EXPECT_EQ(left.end(), std::find(left.begin(), left.end(), L"FriendlyName")) << "no player entry";
    }
    EXPECT_EQ(L"", Text(HKEY_LOCAL_MACHINE, pluginKey, L"Password", KEY_WOW64_32KEY));
    EXPECT_EQ(L"de", Text(HKEY_LOCAL_MACHINE, pluginKey, L"Translation", KEY_WOW64_32KEY));
    EXPECT_EQ(L"anna", Text(HKEY_CURRENT_USER, L"Software\\Sonavire", L"UserName", 0));
    EXPECT_FALSE(FileExists(std::wstring(kFolder) + L"\\Sonavire.dll"));
    EXPECT_FALSE(FileExists(std::wstring(kFolder) + L"\\x64\\Sonavire.dll"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));

    // A folder whose path the registration cannot hold: nothing stays behind.
    const std::wstring deep = L"C:\\" + std::wstring(130, L'd') + L"\\" + std::wstring(130, L'e');
    EXPECT_NE(0u, RunProgram(L"\"" + setup + L"\" /S /D=" + deep));
    EXPECT_FALSE(FileExists(deep + L"\\Sonavire.dll"));
    for (const REGSAM view : Views()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, view));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));

    // What the uninstaller runs when the user asks for their own state to go: the cache goes, but a
    // link the script put into it is not followed (Wine cannot delete a Unix link to a folder, so
    // there the link stays and the helper says so; on Windows it goes too).
    const std::wstring cached = Environment(L"LOCALAPPDATA") + L"\\Sonavire\\Cache\\Blue Harbour.xml";
    CloseHandle(CreateFileW(cached.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(FileExists(cached));
    RunProgram(L"\"" + Environment(L"SONAVIRE_HELPER") + L"\" forget-user");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Sonavire", 0));
    EXPECT_FALSE(FileExists(cached));
    EXPECT_TRUE(FileExists(Environment(L"SONAVIRE_KEPT_FILE")));

    // A folder that is a link (its target made by the script: it must stay empty), and one under a
    // folder someone else owns (Wine reports a Unix owner other than the prefix's user as Anonymous).
    for (const wchar_t* folder : {L"SONAVIRE_LINKED_FOLDER", L"SONAVIRE_FOREIGN_FOLDER"}) {
        const std::wstring path = Environment(folder);
        if (path.empty()) continue;
        EXPECT_EQ(7u, RunProgram(L"\"" + setup + L"\" /S /D=" + path)) << folder;
        EXPECT_FALSE(FileExists(path + L"\\Sonavire.dll"));
        for (const REGSAM view : Views()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, view));
    }
}

}  // namespace
