#include <cstddef>

#include "console/console_output.hpp"

const char* program_name = "simd-mix-bench";

void write_console_ascii(std::string_view text) {
    // Widened a block at a time; every block is one write of the console.
    char16_t block[1024];
    while (!text.empty()) {
        const std::size_t count = text.size() < std::size(block) ? text.size() : std::size(block);
        for (std::size_t i = 0; i < count; ++i) block[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
        write_console_text(block, static_cast<std::uint32_t>(count));
        text.remove_prefix(count);
    }
}

void write_console_lines(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        write_console_ascii(text.substr(0, end));
        if (end == std::string_view::npos) return;
        write_console_ascii(line_break);
        text.remove_prefix(end + 1);
    }
}
