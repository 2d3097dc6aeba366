// Reads the export and import tables of a PE file (32- or 64-bit) from its bytes, without loading
// it: the tests check the built DLLs of both Windows builds with it, natively and under Wine.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace svtest {

struct Export {
    std::string name;
    uint32_t ordinal;
    uint32_t functionRva;
};

struct PeImage {
    bool is64Bit = false;
    uint16_t machine = 0;
    std::string exportedModuleName;
    std::vector<Export> exports;  // named exports, in name-table order
    std::vector<std::string> importedDlls;
};

// Nothing when the bytes are not a well-formed PE image; every offset is checked.
std::optional<PeImage> ReadPeImage(const std::vector<uint8_t>& bytes);
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

}  // namespace svtest
