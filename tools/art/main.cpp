// sonavire-art OUTPUT_DIR: writes logo.bmp (resource 100) and buttons.bmp (resource 103).
// Run it when the drawing changes and commit its output to src/resources; a test checks that the
// committed files are still what this program draws.
#include <cstdio>
#include <string>

#include "art.h"

namespace {
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}
}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    if (!WriteFile(dir + "/logo.bmp", art::EncodeBmp24(art::DrawLogo())) ||
        !WriteFile(dir + "/buttons.bmp", art::EncodeBmp24(art::DrawButtonFaces()))) {
        std::fprintf(stderr, "sonavire-art: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
