#pragma once

#include <cstddef>
#include <cstdint>

// Encodes UTF-16 as UTF-8 in blocks of at most `utf8_block_size` bytes and
// hands each block to `emit(const char*, std::size_t)`, which returns false to
// stop. A lone surrogate becomes U+FFFD. Returns false if `emit` stopped.
inline constexpr std::size_t utf8_block_size = 4096;

template <typename Emit>
bool encode_utf8(const char16_t* text, std::uint32_t count, Emit&& emit) {
    char block[utf8_block_size];
    std::size_t used = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        char32_t code_point = text[i];
        if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (code_point >= 0xD800 && code_point <= 0xDFFF) {
            code_point = 0xFFFD;
        }
        // A code point takes at most four bytes; never split one across blocks.
        if (utf8_block_size - used < 4) {
            if (!emit(static_cast<const char*>(block), used)) return false;
            used = 0;
        }
        if (code_point < 0x80) {
            block[used++] = static_cast<char>(code_point);
        } else if (code_point < 0x800) {
            block[used++] = static_cast<char>(0xC0 | (code_point >> 6));
            block[used++] = static_cast<char>(0x80 | (code_point & 0x3F));
        } else if (code_point < 0x10000) {
            block[used++] = static_cast<char>(0xE0 | (code_point >> 12));
            block[used++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
            block[used++] = static_cast<char>(0x80 | (code_point & 0x3F));
        } else {
            block[used++] = static_cast<char>(0xF0 | (code_point >> 18));
            block[used++] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
            block[used++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
            block[used++] = static_cast<char>(0x80 | (code_point & 0x3F));
        }
    }
    return used == 0 || emit(static_cast<const char*>(block), used);
}
