#include "render/font_file.hpp"

#include <cstdint>

static std::uint32_t bigEndian(const unsigned char* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

bool fontDirectoryFits(const unsigned char* font, std::size_t size) {
    // No real font is this small, and the GUI's font atlas treats a size of 100 bytes or less as a
    // caller's mistake rather than as a bad file.
    if (size <= 100) {
        return false;
    }
    const std::uint32_t tag = bigEndian(font, 4);
    if (tag != 0x00010000u && tag != 0x74727565u /* true */ && tag != 0x4F54544Fu /* OTTO */) {
        return false;
    }
    const size_t tables = bigEndian(font + 4, 2);
    if (12 + 16 * tables > size) {
        return false;
    }
    for (size_t i = 0; i < tables; ++i) {
        const unsigned char* entry = font + 12 + 16 * i;
        const std::uint64_t offset = bigEndian(entry + 8, 4);
        const std::uint64_t length = bigEndian(entry + 12, 4);
        if (offset + length > size) {
            return false;
        }
    }
    return true;
}
