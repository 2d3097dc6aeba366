// The built Sonavire.dll: the four COM entry points exported by their plain names with ordinals
// 1-4, and nothing imported but Windows' own DLLs (no MinGW runtime DLL to ship alongside).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "pe_image.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool IsSystemDll(const std::string& name) {
    static const char* const kSystemDlls[] = {
        "kernel32.dll", "user32.dll",  "gdi32.dll",    "advapi32.dll", "ole32.dll",    "oleaut32.dll",
        "msvcrt.dll",   "shell32.dll", "shlwapi.dll",  "wininet.dll",  "comctl32.dll", "version.dll",
        "uxtheme.dll",  "msimg32.dll", "comdlg32.dll", "urlmon.dll",   "ws2_32.dll",   "crypt32.dll",
    };
    const std::string lower = Lower(name);
    if (lower.rfind("api-ms-win-", 0) == 0) return true;
    return std::find(std::begin(kSystemDlls), std::end(kSystemDlls), lower) != std::end(kSystemDlls);
}

void CheckDllImage(const std::string& path, bool expect64Bit) {
    SCOPED_TRACE(path);
    const auto bytes = svtest::ReadWholeFile(path);
    ASSERT_TRUE(bytes) << "cannot read the DLL";
    const auto image = svtest::ReadPeImage(*bytes);
    ASSERT_TRUE(image) << "not a well-formed PE image";
    EXPECT_EQ(expect64Bit, image->is64Bit);
    EXPECT_EQ(expect64Bit ? 0x8664 : 0x014C, image->machine);
    EXPECT_EQ("Sonavire.dll", image->exportedModuleName);

    const std::pair<const char*, uint32_t> expected[] = {
        {"DllCanUnloadNow", 1}, {"DllGetClassObject", 2}, {"DllRegisterServer", 3}, {"DllUnregisterServer", 4}};
    ASSERT_EQ(4u, image->exports.size());
    for (const auto& [name, ordinal] : expected) {
        const auto found = std::find_if(image->exports.begin(), image->exports.end(),
                                        [&](const svtest::Export& e) { return e.name == name; });
        ASSERT_NE(image->exports.end(), found) << name << " is not exported by that name";
        EXPECT_EQ(ordinal, found->ordinal) << name;
        EXPECT_NE(0u, found->functionRva) << name;
    }
    // Four distinct functions.
    for (size_t i = 0; i < image->exports.size(); ++i)
        for (size_t j = i + 1; j < image->exports.size(); ++j)
            EXPECT_NE(image->exports[i].functionRva, image->exports[j].functionRva);

    EXPECT_FALSE(image->importedDlls.empty());
    for (const std::string& dll : image->importedDlls) EXPECT_TRUE(IsSystemDll(dll)) << "imports " << dll;
}

}  // namespace

#ifdef _WIN32
TEST(SonavireDllImage, ExportsAndImportsOfThisBuild) {
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, DWORD(MAX_PATH));
    std::string path(exe, n);
    path = path.substr(0, path.find_last_of("\\/") + 1) + "Sonavire.dll";
    CheckDllImage(path, sizeof(void*) == 8);
}
#else
// Both Windows builds of the same tree, when they have been built next to this native build.
TEST(SonavireDllImage, SixtyFourBitBuild) {
    if (!svtest::ReadWholeFile(SONAVIRE_WIN64_DLL)) GTEST_SKIP() << SONAVIRE_WIN64_DLL << " not built";
    CheckDllImage(SONAVIRE_WIN64_DLL, true);
}

TEST(SonavireDllImage, ThirtyTwoBitBuild) {
    if (!svtest::ReadWholeFile(SONAVIRE_WIN32_DLL)) GTEST_SKIP() << SONAVIRE_WIN32_DLL << " not built";
    CheckDllImage(SONAVIRE_WIN32_DLL, false);
}
#endif
