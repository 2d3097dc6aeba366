#include "pe_image.h"

#include <fstream>
#include <iterator>

namespace svtest {
namespace {

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Has(uint64_t offset, uint64_t size) const { return offset <= bytes_.size() && size <= bytes_.size() - offset; }
    uint16_t U16(uint64_t offset) const {
        return Has(offset, 2) ? uint16_t(bytes_[offset] | bytes_[offset + 1] << 8) : 0;
    }
    uint32_t U32(uint64_t offset) const {
        return Has(offset, 4) ? uint32_t(U16(offset)) | uint32_t(U16(offset + 2)) << 16 : 0;
    }
    std::optional<std::string> String(uint64_t offset) const {
        std::string s;
        for (uint64_t i = offset; i < bytes_.size(); ++i) {
            if (bytes_[i] == 0) return s;
            s.push_back(static_cast<char>(bytes_[i]));
        }
        return std::nullopt;
    }

private:
    const std::vector<uint8_t>& bytes_;
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

std::optional<uint64_t> FileOffset(const std::vector<Section>& sections, uint32_t rva) {
    for (const Section& s : sections) {
        const uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
        if (rva >= s.virtualAddress && rva - s.virtualAddress < span && rva - s.virtualAddress < s.rawSize)
            return uint64_t(s.rawOffset) + (rva - s.virtualAddress);
    }
    return std::nullopt;
}

}  // namespace

std::optional<PeImage> ReadPeImage(const std::vector<uint8_t>& bytes) {
    Reader r(bytes);
    if (!r.Has(0, 64) || r.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
    const uint32_t pe = r.U32(0x3C);
    if (!r.Has(pe, 24) || r.U32(pe) != 0x00004550) return std::nullopt;  // "PE\0\0"
    PeImage image;
    image.machine = r.U16(pe + 4);
    const uint16_t sectionCount = r.U16(pe + 6);
    const uint16_t optionalSize = r.U16(pe + 20);
    const uint64_t optional = pe + 24;
    if (!r.Has(optional, optionalSize)) return std::nullopt;
    const uint16_t magic = r.U16(optional);
    if (magic != 0x10B && magic != 0x20B) return std::nullopt;
    image.is64Bit = magic == 0x20B;
    const uint64_t directories = optional + (image.is64Bit ? 112 : 96);
    const uint32_t directoryCount = r.U32(optional + (image.is64Bit ? 108 : 92));
    if (directoryCount < 2 || !r.Has(directories, 16)) return std::nullopt;

    std::vector<Section> sections;
    const uint64_t sectionTable = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const uint64_t s = sectionTable + uint64_t(i) * 40;
        if (!r.Has(s, 40)) return std::nullopt;
        sections.push_back({r.U32(s + 12), r.U32(s + 8), r.U32(s + 20), r.U32(s + 16)});
    }

    if (const uint32_t exportRva = r.U32(directories)) {
        const auto dir = FileOffset(sections, exportRva);
        if (!dir || !r.Has(*dir, 40)) return std::nullopt;
        const uint32_t base = r.U32(*dir + 16);
        const uint32_t functionCount = r.U32(*dir + 20);
        const uint32_t nameCount = r.U32(*dir + 24);
        const auto functions = FileOffset(sections, r.U32(*dir + 28));
        const auto names = FileOffset(sections, r.U32(*dir + 32));
        const auto ordinals = FileOffset(sections, r.U32(*dir + 36));
        const auto moduleName = FileOffset(sections, r.U32(*dir + 12));
        if (moduleName) image.exportedModuleName = r.String(*moduleName).value_or("");
        if (nameCount && (!functions || !names || !ordinals)) return std::nullopt;
        for (uint32_t i = 0; i < nameCount; ++i) {
            const auto nameAt = FileOffset(sections, r.U32(*names + 4ull * i));
            if (!nameAt || !r.Has(*ordinals + 2ull * i, 2)) return std::nullopt;
            const uint16_t index = r.U16(*ordinals + 2ull * i);
            if (index >= functionCount || !r.Has(*functions + 4ull * index, 4)) return std::nullopt;
            auto name = r.String(*nameAt);
            if (!name) return std::nullopt;
            image.exports.push_back({*name, base + index, r.U32(*functions + 4ull * index)});
        }
    }

    if (const uint32_t importRva = r.U32(directories + 8)) {
        auto descriptor = FileOffset(sections, importRva);
        if (!descriptor) return std::nullopt;
        for (uint64_t d = *descriptor;; d += 20) {
            if (!r.Has(d, 20)) return std::nullopt;
            const uint32_t nameRva = r.U32(d + 12);
            if (nameRva == 0) break;
            const auto nameAt = FileOffset(sections, nameRva);
            if (!nameAt) return std::nullopt;
            auto name = r.String(*nameAt);
            if (!name) return std::nullopt;
            image.importedDlls.push_back(*name);
        }
    }
    return image;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace svtest
