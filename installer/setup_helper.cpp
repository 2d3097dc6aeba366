// sonavire-setup-helper: what the installer needs that NSIS cannot do by itself.
//   sonavire-setup-helper grant FOLDER
// Since Windows Vista a standard user cannot write under "C:\Program Files" or HKLM, where the
// plug-in keeps its lyrics cache and its settings: this grants the Users group modify rights on the
// cache folder (inherited by the files in it) and read/write rights on the plug-in's key in each
// registry view that has it. Exit code 0 when every grant was made.
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cwchar>
#include <initializer_list>

#include "settings/plugin_identity.h"

namespace {

// The well-known Users group (S-1-5-32-545), whatever its name in the system's language.
class UsersSid {
public:
    UsersSid() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &sid_);
    }
    ~UsersSid() {
        if (sid_) FreeSid(sid_);
    }
    UsersSid(const UsersSid&) = delete;
    UsersSid& operator=(const UsersSid&) = delete;
    PSID get() const { return sid_; }

private:
    PSID sid_ = nullptr;
};

// The object's DACL with an entry for Users added (old entries kept); the new DACL is freed here.
DWORD AddUsersEntry(PACL current, PSID users, DWORD rights, DWORD inheritance, PACL& updated) {
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = rights;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = inheritance;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(users);
    return SetEntriesInAclW(1, &access, current, &updated);
}

DWORD GrantFolder(const wchar_t* folder, PSID users) {
    CreateDirectoryW(folder, nullptr);
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                                         nullptr, &descriptor);
    if (result != ERROR_SUCCESS) return result;
    PACL updated = nullptr;
    result = AddUsersEntry(current, users, FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE,
                           SUB_CONTAINERS_AND_OBJECTS_INHERIT, updated);
    if (result == ERROR_SUCCESS) {
        result = SetNamedSecurityInfoW(const_cast<wchar_t*>(folder), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, updated, nullptr);
    }
    LocalFree(updated);
    LocalFree(descriptor);
    return result;
}

// The key in one view; ERROR_FILE_NOT_FOUND when that view has no such key.
DWORD GrantKey(REGSAM view, PSID users) {
    HKEY key = nullptr;
    DWORD result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, sv::kPluginKey, 0, READ_CONTROL | WRITE_DAC | view, &key);
    if (result != ERROR_SUCCESS) return result;
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    result = GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current, nullptr,
                             &descriptor);
    if (result == ERROR_SUCCESS) {
        PACL updated = nullptr;
        result = AddUsersEntry(current, users, KEY_READ | KEY_WRITE, SUB_CONTAINERS_AND_OBJECTS_INHERIT, updated);
        if (result == ERROR_SUCCESS) {
            result = SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, updated,
                                     nullptr);
        }
        LocalFree(updated);
        LocalFree(descriptor);
    }
    RegCloseKey(key);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || std::wcscmp(argv[1], L"grant") != 0) {
        std::fprintf(stderr, "usage: sonavire-setup-helper grant FOLDER\n");
        return 2;
    }
    UsersSid users;
    if (!users.get()) return 3;
    int status = 0;
    if (const DWORD folder = GrantFolder(argv[2], users.get()); folder != ERROR_SUCCESS) {
        std::fprintf(stderr, "sonavire-setup-helper: the cache folder: error %lu\n", folder);
        status = 1;
    }
    int keys = 0;
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        const DWORD key = GrantKey(view, users.get());
        if (key == ERROR_SUCCESS) ++keys;
        else if (key != ERROR_FILE_NOT_FOUND) {
            std::fprintf(stderr, "sonavire-setup-helper: the settings key: error %lu\n", key);
            status = 1;
        }
    }
    if (keys == 0) {
        std::fprintf(stderr, "sonavire-setup-helper: the settings key is missing\n");
        status = 1;
    }
    return status;
}
