#include "console/console_output.hpp"

char16_t result_text[result_capacity];
std::uint32_t result_length;

void format_decimal(std::int64_t value) {
    // The magnitude is unsigned, so the most negative value has one too.
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::uint32_t n = 0;
    do {
        // Divides by 10 in two 64-by-32 steps: the upper half first, then its
        // remainder together with the lower half. Neither quotient can exceed
        // 32 bits.
        const std::uint32_t upper = static_cast<std::uint32_t>(magnitude >> 32);
        const std::uint64_t lower = (static_cast<std::uint64_t>(upper % 10) << 32) | (magnitude & 0xFFFFFFFFu);
        magnitude = (static_cast<std::uint64_t>(upper / 10) << 32) | (lower / 10);
        result_text[n++] = static_cast<char16_t>(u'0' + lower % 10);
    } while (magnitude != 0);
    if (value < 0) result_text[n++] = u'-';
    for (std::uint32_t low = 0, high = n - 1; low < high; ++low, --high) {
        const char16_t swapped = result_text[low];
        result_text[low] = result_text[high];
        result_text[high] = swapped;
    }
    result_length = n;
}
