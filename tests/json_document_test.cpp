#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "console/console_output.hpp"
#include "console/json_document.hpp"

namespace {

// The text with '\n' as the platform's line break.
std::string with_line_breaks(const std::string& text) {
    std::string result;
    for (char c : text) c == '\n' ? result += line_break : result += c;
    return result;
}

TEST(JsonNumbers, RoundedToTheirPlacesWithoutTrailingZerosOrNegativeZero) {
    EXPECT_EQ(json_fixed(0.75404, 4).dump(), "0.754");
    EXPECT_EQ(json_fixed(2.0000004, 6).dump(), "2.0");
    EXPECT_EQ(json_fixed(-1.23456789, 6).dump(), "-1.234568");
    EXPECT_EQ(json_fixed(-0.0000004, 6).dump(), "0.0");
    // Readers parse the same number that the fixed places name.
    EXPECT_EQ(json_fixed(0.1 + 0.2, 6).get<double>(), 0.3);
    EXPECT_EQ(json_fixed(std::numeric_limits<double>::quiet_NaN(), 6).dump(), "null");
    EXPECT_EQ(json_fixed(-std::numeric_limits<double>::infinity(), 2).dump(), "null");
}

TEST(JsonNumbers, SpreadIsThreeFieldsInOrderAtSixPlaces) {
    struct {
        double median, lowest, highest;
    } spread{1.23456789, 1.1234564, 2.5000001};
    Json object = json_document();
    add_json_spread(object, "cycles", spread);
    EXPECT_EQ(object.dump(), R"({"format_version":2,"cycles":1.234568,"cycles_lowest":1.123456,"cycles_highest":2.5})");
}

TEST(JsonText, ArraysOfObjectsSpreadOverLinesEverythingElseOnOne) {
    Json document = json_document();
    document["counts"] = Json::array({3, 1, 2});
    document["pairs"] = Json::array({Json::array({1, 2}), Json::array({3, 4})});
    document["rows"] = Json::array({Json{{"name", "a"}, {"runs", Json::array({5, 6})}}, Json{{"name", "b"}}});
    document["none"] = Json::array();
    document["nested"] = {{"rows", Json::array({Json::object()})}, {"flag", true}};
    EXPECT_EQ(json_text(document), with_line_breaks(R"({
  "format_version": 2,
  "counts": [3, 1, 2],
  "pairs": [[1, 2], [3, 4]],
  "rows": [
    {"name": "a", "runs": [5, 6]},
    {"name": "b"}
  ],
  "none": [],
  "nested": {
    "rows": [
      {}
    ],
    "flag": true
  }
}
)"));
}

TEST(JsonText, EveryStringEscapedToAsciiWhateverItsBytes) {
    Json document;
    // A quote, a backslash, a tab, a control byte, a byte that is no UTF-8,
    // UTF-8 of two and of four bytes; the same in a key.
    const std::string hostile = "\"\\\t\x01\xE9|\xC3\xA9|\xF0\x9F\x98\x80";
    document[hostile] = hostile;
    const std::string escaped = R"("\"\\\t\u0001\ufffd|\u00e9|\ud83d\ude00")";
    EXPECT_EQ(json_text(document), "{" + escaped + ": " + escaped + "}" + std::string(line_break));
}

}  // namespace
