// sonavire-setup-helper: what the installer needs that NSIS cannot do safely by itself.
//   sonavire-setup-helper secure INSTALL_FOLDER PLUGIN_FOLDER   before setup writes into them
//   sonavire-setup-helper secure-key         after registration
//   sonavire-setup-helper forget-user        on uninstall, when the user asks
// The plug-in's code runs in every user's player and, through regsvr32 and the uninstaller, as an
// administrator: only administrators may be able to change it or the machine-wide settings key.
//
// "secure" refuses (exit 10, the reason on stdout for setup to show) a folder that is, or lies
// under, a junction or symbolic link, or whose owner is not an administrator: a standard user could
// send the files elsewhere or change them afterwards. It makes the folders that are missing and
// takes away any right to change them that the folder would inherit from above (a second drive's
// root lets users modify what is made in it). Earlier versions let the Users group modify
// the install folder and kept the lyrics cache in it; an upgrade takes such grants away, deletes
// the old cache files and refuses when it finds anything else in the folder that a standard user
// put there (a DLL planted beside Sonavire.dll would be loaded with it).
// "secure-key" takes write grants for anyone but administrators off the plug-in's HKLM key in each
// registry view. "forget-user" deletes the running user's own state: the HKCU key and the lyrics
// cache in the local application data. Exit 0 when all is well.
#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "settings/plugin_identity.h"

namespace {

using sv::UniqueFileHandle;
using sv::UniqueHkey;

constexpr int kRefused = 10;
constexpr int kFailed = 1;

// Memory the security functions allocate with LocalAlloc.
struct LocalMemory {
    LocalMemory() = default;
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    ~LocalMemory() { LocalFree(pointer); }
    HLOCAL pointer = nullptr;
};

// The rights that change an object, its security or what it holds; a standard user gets none.
constexpr DWORD kFileWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
constexpr DWORD kKeyWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Who may own and change what setup installs: Administrators, SYSTEM, TrustedInstaller and the
// administrator running setup (files an administrator makes outside an elevated process are
// owned by that user; Wine reports the user as the owner of every file of the prefix).
class TrustedOwners {
public:
    TrustedOwners() {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return;
        sv::UniqueKernelHandle token(raw);
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        user_.resize(size);
        if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) user_.clear();
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD adminsSize = sizeof(admins);
        BOOL member = FALSE;
        // Only an administrator's own folders are as safe as the Administrators group's.
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize) ||
            !CheckTokenMembership(nullptr, admins, &member) || !member)
            user_.clear();
    }

    bool Trusts(PSID sid) const {
        if (!sid || !IsValidSid(sid)) return false;
        for (const WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
            if (IsWellKnownSid(sid, type)) return true;
        }
        if (IsTrustedInstaller(sid)) return true;
        return !user_.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid);
    }

private:
    // NT SERVICE\TrustedInstaller: S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
    static bool IsTrustedInstaller(PSID sid) {
        static const DWORD kRids[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
        const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (std::memcmp(GetSidIdentifierAuthority(sid), &nt, sizeof(nt)) != 0) return false;
        if (*GetSidSubAuthorityCount(sid) != 6) return false;
        for (DWORD i = 0; i < 6; ++i) {
            if (*GetSidSubAuthority(sid, i) != kRids[i]) return false;
        }
        return true;
    }

    std::vector<BYTE> user_;
};

// The entries of a DACL that let someone other than a trusted owner change the object. CREATOR
// OWNER entries that only pass on to new children stay: only administrators can make those.
bool LetsOthersWrite(const TrustedOwners& trusted, PACL acl, DWORD index, DWORD writeRights) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(acl, index, reinterpret_cast<void**>(&header))) return false;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & writeRights) == 0) return false;
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    if (trusted.Trusts(sid)) return false;
    if ((header->AceFlags & INHERIT_ONLY_ACE) && IsWellKnownSid(sid, WinCreatorOwnerSid)) return false;
    return true;
}

enum class Outcome { kUnchanged, kChanged, kFailed };

// Rewrites the object's DACL without the entries that let others write (only tells whether it would,
// unless told to apply). Where such an entry was inherited the DACL is protected from then on (with
// the rest kept), else inheritance stays on.
Outcome RemoveOthersWrites(const TrustedOwners& trusted, HANDLE object, SE_OBJECT_TYPE type, DWORD writeRights,
                           bool apply = true) {
    PACL acl = nullptr;
    LocalMemory descriptor;
    if (GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                        &descriptor.pointer) != ERROR_SUCCESS)
        return Outcome::kFailed;
    // A null DACL lets everyone do everything: replaced by one that lets administrators only.
    ACL_SIZE_INFORMATION size{};
    if (acl && !GetAclInformation(acl, &size, sizeof(size), AclSizeInformation)) return Outcome::kFailed;
    std::vector<DWORD> kept;
    bool inheritedDropped = !acl;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        if (!LetsOthersWrite(trusted, acl, i, writeRights)) {
            kept.push_back(i);
            continue;
        }
        ACE_HEADER* header = nullptr;
        GetAce(acl, i, reinterpret_cast<void**>(&header));
        if (header->AceFlags & INHERITED_ACE) inheritedDropped = true;
    }
    if (acl && kept.size() == size.AceCount) return Outcome::kUnchanged;
    if (!apply) return Outcome::kChanged;

    std::vector<BYTE> buffer(sizeof(ACL) + (acl ? size.AclBytesInUse : 0) + 64, 0);
    PACL updated = reinterpret_cast<PACL>(buffer.data());
    if (!InitializeAcl(updated, static_cast<DWORD>(buffer.size()), ACL_REVISION)) return Outcome::kFailed;
    for (const DWORD i : kept) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&header)) ||
            !AddAce(updated, ACL_REVISION, MAXDWORD, header, header->AceSize))
            return Outcome::kFailed;
    }
    for (const WELL_KNOWN_SID_TYPE owner : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(sid);
        if (!acl && (!CreateWellKnownSid(owner, nullptr, sid, &sidSize) ||
                     !AddAccessAllowedAceEx(updated, ACL_REVISION, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE,
                                            GENERIC_ALL, sid)))
            return Outcome::kFailed;
    }
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
        (inheritedDropped ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (SetSecurityInfo(object, type, what, nullptr, nullptr, updated, nullptr) != ERROR_SUCCESS)
        return Outcome::kFailed;
    return Outcome::kChanged;
}

// A file or folder opened as itself (a link is not followed), to judge and mend its security.
UniqueFileHandle OpenEntry(const std::wstring& path, DWORD access) {
    return UniqueFileHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
}

bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether a trusted owner owns the open entry.
bool OwnedByTrusted(const TrustedOwners& trusted, HANDLE entry) {
    PSID owner = nullptr;
    LocalMemory descriptor;
    return GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                           &descriptor.pointer) == ERROR_SUCCESS &&
        trusted.Trusts(owner);
}

class Refusal {
public:
    int Refuse(const std::wstring& folder, const std::wstring& reason) {
        if (status_ == 0) Say(L"Setup will not install into \"" + folder + L"\": " + reason);
        status_ = kRefused;
        return status_;
    }
    int Fail(const std::wstring& what) {
        if (status_ == 0) Say(what);
        status_ = kFailed;
        return status_;
    }
    int status() const { return status_; }

private:
    // In the system's code page: setup reads the helper's output as such.
    static void Say(const std::wstring& text) {
        const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string bytes(size > 0 ? size : 1, '\0');
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
        std::printf("%s\n", bytes.c_str());
        std::fflush(stdout);
    }
    int status_ = 0;
};

std::wstring Parent(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    std::wstring parent = path.substr(0, slash);
    if (parent.size() == 2 && parent[1] == L':') parent += L'\\';  // "C:" is the drive's current folder
    return parent;
}

// The folder and each existing folder above it, up to the drive's root: none may be a link, and
// each must be owned by a trusted owner.
int CheckChain(const TrustedOwners& trusted, const std::wstring& folder, Refusal& refusal) {
    std::wstring path = folder;
    while (!path.empty() && path.back() == L'\\' && path.size() > 3) path.pop_back();
    for (std::wstring current = path; !current.empty();) {
        const DWORD attributes = GetFileAttributesW(current.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (IsLink(attributes))
                return refusal.Refuse(folder, L"\"" + current + L"\" is a junction or symbolic link.");
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return refusal.Refuse(folder, L"\"" + current + L"\" is a file, not a folder.");
            const UniqueFileHandle entry = OpenEntry(current, READ_CONTROL);
            if (!entry || !OwnedByTrusted(trusted, entry.get()))
                return refusal.Refuse(folder, L"\"" + current +
                    L"\" is not owned by Administrators, SYSTEM or TrustedInstaller, so others may change it.");
        }
        const std::wstring parent = Parent(current);
        if (parent == current || parent.size() < 3) break;
        current = parent;
    }
    return 0;
}

// Makes the folders of the path that do not exist yet, then checks the whole chain again: where
// users may add folders (a drive's root, say) one may have made a link of the same name first.
// Made here, a folder is owned by administrators and cannot be swapped before setup writes.
int MakeFolder(const TrustedOwners& trusted, const std::wstring& folder, bool& made, Refusal& refusal) {
    std::vector<std::wstring> missing;
    for (std::wstring current = folder; current.size() > 3; current = Parent(current)) {
        if (GetFileAttributesW(current.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        missing.push_back(current);
    }
    made = !missing.empty();
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!CreateDirectoryW(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return refusal.Fail(L"Setup could not make the folder \"" + *it + L"\" (error " +
                                std::to_wstring(GetLastError()) + L").");
    }
    return CheckChain(trusted, folder, refusal);
}

bool EndsWithXml(const std::wstring& name) {
    return name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".xml") == 0;
}

// The entries of an existing install folder (and of its x64 and Offline folders): the old lyrics
// cache goes; a link, or anything a standard user owns, stops setup.
int CheckContents(const TrustedOwners& trusted, const std::wstring& root, const std::wstring& folder, bool cacheHere,
                  Refusal& refusal) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (IsLink(found.dwFileAttributes)) {
            refusal.Refuse(root, L"\"" + path + L"\" is a junction or symbolic link.");
            break;
        }
        const bool directory = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        // Cache files of earlier versions, written by every user: the plug-in keeps its cache per user now.
        if (cacheHere && !directory && EndsWithXml(name) && DeleteFileW(path.c_str())) continue;
        const UniqueFileHandle entry = OpenEntry(path, READ_CONTROL);
        if (!entry || !OwnedByTrusted(trusted, entry.get())) {
            refusal.Refuse(root, L"\"" + path +
                L"\" was not put there by an administrator. Remove it, then run Setup again.");
            break;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return refusal.status();
}

// Takes back write grants for others on a folder of Sonavire's; its files inherit the change. The
// security of a folder of someone else's stays as it is: setup refuses to install there.
int MendFolder(const TrustedOwners& trusted, const std::wstring& root, const std::wstring& folder, bool ours,
               Refusal& refusal) {
    const UniqueFileHandle entry = OpenEntry(folder, READ_CONTROL | WRITE_DAC);
    if (!entry) {
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
        return refusal.Fail(L"Setup could not open \"" + folder + L"\" (error " + std::to_wstring(GetLastError()) +
                            L").");
    }
    const Outcome outcome = RemoveOthersWrites(trusted, entry.get(), SE_FILE_OBJECT, kFileWriteRights, ours);
    if (outcome == Outcome::kFailed || (outcome == Outcome::kChanged && !ours))
        return refusal.Refuse(root, L"standard users may change \"" + folder + L"\"" +
                              (ours ? L" and Setup could not take that right away." : L"."));
    return 0;
}

// The folder of the DLLs and the one of the offline pages (where earlier versions kept the cache).
int Secure(const std::wstring& installFolder, const std::wstring& pluginFolder) {
    const TrustedOwners trusted;
    Refusal refusal;
    for (const std::wstring& root : {installFolder, pluginFolder}) {
        if (refusal.status() != 0) break;
        bool made = false;
        if (CheckChain(trusted, root, refusal) != 0 || MakeFolder(trusted, root, made, refusal) != 0) break;
        const bool cacheHere = _wcsicmp(root.c_str(), pluginFolder.c_str()) == 0;
        const bool ours =
            made || cacheHere || GetFileAttributesW((root + L"\\Sonavire.dll").c_str()) != INVALID_FILE_ATTRIBUTES;
        // The grant goes first: from then on no standard user can change what is checked next.
        if (MendFolder(trusted, root, root, ours, refusal) != 0) break;
        if (CheckContents(trusted, root, root, cacheHere, refusal) != 0) break;
        for (const wchar_t* sub : {L"x64", L"Offline"}) {
            const std::wstring folder = root + L"\\" + sub;
            if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
            if (MendFolder(trusted, root, folder, ours, refusal) != 0 ||
                CheckContents(trusted, root, folder, false, refusal) != 0)
                break;
        }
    }
    return refusal.status();
}

// The plug-in's key in each registry view that has it: written by administrators only.
int SecureKey() {
    const TrustedOwners trusted;
    Refusal refusal;
    int keys = 0;
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        UniqueHkey key;
        const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, sv::kPluginKey, 0, READ_CONTROL | WRITE_DAC | view,
                                             key.put());
        if (opened == ERROR_FILE_NOT_FOUND) continue;
        if (opened != ERROR_SUCCESS ||
            RemoveOthersWrites(trusted, key.get(), SE_REGISTRY_KEY, kKeyWriteRights) == Outcome::kFailed)
            return refusal.Fail(L"Setup could not keep standard users from changing the plug-in's settings key.");
        ++keys;
    }
    if (keys == 0) return refusal.Fail(L"The plug-in's settings key is missing.");
    return 0;
}

// Deletes a folder and what it holds. A link inside is removed itself, never followed: the
// uninstaller runs elevated and the folder is the user's to fill.
bool DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const bool directory = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (directory && !IsLink(found.dwFileAttributes)) DeleteTree(path);
            else if (!directory || !RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());  // Wine: a Unix link
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

int ForgetUser() {
    Refusal refusal;
    const LSTATUS key = RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Sonavire");
    if (key == ERROR_SUCCESS || key == ERROR_FILE_NOT_FOUND) RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Sonavire");
    else refusal.Fail(L"Your Sonavire settings could not be deleted (error " + std::to_wstring(key) + L").");
    PWSTR local = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local))) {
        const std::wstring folder = std::wstring(local) + L"\\Sonavire";
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        const bool removed = attributes == INVALID_FILE_ATTRIBUTES ? true
            : IsLink(attributes) ? RemoveDirectoryW(folder.c_str()) || DeleteFileW(folder.c_str())
                                                                   : DeleteTree(folder);
        if (!removed) refusal.Fail(L"Your lyrics cache in \"" + folder + L"\" could not be deleted completely.");
    }
    CoTaskMemFree(local);
    return refusal.status();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wcscmp(argv[1], L"secure") == 0) return Secure(argv[2], argv[3]);
    if (argc == 2 && std::wcscmp(argv[1], L"secure-key") == 0) return SecureKey();
    if (argc == 2 && std::wcscmp(argv[1], L"forget-user") == 0) return ForgetUser();
    std::fprintf(stderr, "usage: sonavire-setup-helper secure INSTALL_FOLDER PLUGIN_FOLDER | secure-key | forget-user\n");
    return 2;
}
