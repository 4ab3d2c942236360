#include <cmath>

#include "console/console_output.hpp"

std::string decimal_text(std::int64_t value) {
    format_decimal(value);
    return {result_text, result_text + result_length};
}

std::string format_fixed(double value, int decimals) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // The digits of the rounded magnitude, scaled to a whole number, come from
    // the same formatting as the cycle counts.
    const double scaled = std::round(std::fabs(value) * std::pow(10.0, decimals));
    if (scaled >= 9.2e18) return value < 0 ? "-inf" : "inf";
    std::string digits = decimal_text(static_cast<std::int64_t>(scaled));
    // At least one digit before the point.
    if (digits.size() <= static_cast<std::size_t>(decimals)) digits.insert(0, decimals + 1 - digits.size(), '0');
    if (decimals > 0) digits.insert(digits.size() - decimals, 1, '.');
    // A value that rounds to zero has no sign.
    return (value < 0 && scaled != 0 ? "-" : "") + digits;
}
