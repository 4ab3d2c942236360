#include "console/json_document.hpp"

#include <charconv>
#include <cmath>

#include "console/console_output.hpp"

Json json_document() { return Json{{"format_version", json_format_version}}; }

Json json_fixed(double value, int decimals) {
    if (!std::isfinite(value)) return nullptr;
    // Read back from format_fixed's own digits, so that the number is the one
    // its text names, whatever precision the arithmetic ran at (x87 on i386).
    const std::string digits = format_fixed(value, decimals);
    double rounded = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), rounded);
    if (error != std::errc() || end != digits.data() + digits.size()) return nullptr;
    return rounded;
}

void add_json_spread(Json& object, std::string_view name, double median, double lowest, double highest) {
    const std::string key(name);
    object[key] = json_fixed(median, 6);
    object[key + "_lowest"] = json_fixed(lowest, 6);
    object[key + "_highest"] = json_fixed(highest, 6);
}

namespace {

// A scalar or a key, escaped and formatted by the library alone.
std::string scalar_text(const Json& scalar) { return scalar.dump(-1, ' ', true, Json::error_handler_t::replace); }

bool holds_array_of_objects(const Json& value) {
    if (!value.is_structured()) return false;
    for (const Json& item : value) {
        if ((value.is_array() && item.is_object()) || holds_array_of_objects(item)) return true;
    }
    return false;
}

void write_value(std::string& text, const Json& value, std::size_t depth) {
    if (!value.is_structured()) {
        text += scalar_text(value);
        return;
    }
    const bool over_lines = holds_array_of_objects(value);
    const std::string inner_line = std::string(line_break) + std::string(2 * (depth + 1), ' ');
    text += value.is_object() ? '{' : '[';
    if (over_lines) text += inner_line;
    for (auto item = value.begin(); item != value.end(); ++item) {
        if (item != value.begin()) text += over_lines ? "," + inner_line : ", ";
        if (value.is_object()) text += scalar_text(item.key()) + ": ";
        write_value(text, item.value(), depth + 1);
    }
    if (over_lines) text += std::string(line_break) + std::string(2 * depth, ' ');
    text += value.is_object() ? '}' : ']';
}

}  // namespace

std::string json_text(const Json& document) {
    std::string text;
    write_value(text, document, 0);
    return text + std::string(line_break);
}
