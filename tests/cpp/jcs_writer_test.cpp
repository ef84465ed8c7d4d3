#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>

#include "base/jcs_writer.h"
#include "base/json_reader.h"
#include "test_util.h"

namespace quillane {
namespace {

using test::error_of;

std::string jcs(const Json& j) {
  auto r = canonical_json(j);
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
  return r.ok() ? *r : "";
}

Json parse(std::string_view text) {
  JsonReader r(text);
  auto v = r.read_value();
  EXPECT_TRUE(v.ok()) << (v.ok() ? "" : v.error().message);
  EXPECT_TRUE(r.finish().ok());
  return v.ok() ? *v : Json();
}

TEST(JcsWriter, PublicVectors) {
  for (const char* name : {"arrays", "french", "structures", "unicode", "values", "weird"}) {
    SCOPED_TRACE(name);
    std::string input = test::read_file(test::vectors_path(std::string("jcs/input/") + name + ".json"));
    std::string expected = test::read_file(test::vectors_path(std::string("jcs/output/") + name + ".json"));
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r')) expected.pop_back();
    EXPECT_EQ(jcs(parse(input)), expected);
  }
}

double from_hex_bits(const std::string& hex) { return std::bit_cast<double>(std::stoull(hex, nullptr, 16)); }

bool in_refused_range(double x) {
  return std::fabs(x) > 9007199254740991.0 && std::fabs(x) < 1e21;
}

TEST(JcsWriter, TenThousandFloats) {
  std::ifstream in(test::vectors_path("jcs/es6testfile10k.txt"));
  ASSERT_TRUE(in.good());
  std::string line;
  int lines = 0, refused = 0;
  while (std::getline(in, line)) {
    const auto comma = line.find(',');
    const double x = from_hex_bits(line.substr(0, comma));
    auto out = canonical_json(Json(x));
    ++lines;
    if (in_refused_range(x)) {
      ++refused;
      EXPECT_NE(error_of(out).find("would serialize as an integer outside the I-JSON safe range"), std::string::npos);
    } else {
      ASSERT_TRUE(out.ok()) << line;
      EXPECT_EQ(*out, line.substr(comma + 1)) << line;
    }
  }
  EXPECT_EQ(lines, 10000);
  EXPECT_EQ(refused, 84);
}

TEST(JcsWriter, AppendixBSamples) {
  std::ifstream in(test::vectors_path("jcs/appendix-b-number-samples.txt"));
  std::string line;
  int refused = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto c1 = line.find(','), c2 = line.find(',', c1 + 1);
    const double x = from_hex_bits(line.substr(0, c1));
    const std::string expected = line.substr(c1 + 1, c2 - c1 - 1);
    auto out = canonical_json(Json(x));
    if (expected.empty()) {
      EXPECT_EQ(error_of(out), "non-finite number in JCS input") << line;
    } else if (in_refused_range(x)) {
      ++refused;
      EXPECT_EQ(error_of(out), "number " + expected +
                                   " would serialize as an integer outside the I-JSON safe range required by JCS");
    } else {
      EXPECT_EQ(out.ok() ? *out : out.error().message, expected) << line;
    }
  }
  EXPECT_EQ(refused, 5);
}

TEST(JcsWriter, Numbers) {
  struct Case {
    Json value;
    std::string text;
  };
  const Case cases[] = {
      {Json(std::uint64_t{9007199254740991}), "9007199254740991"},
      {Json(std::uint64_t{9007199254740992}),
       "integer 9007199254740992 exceeds the I-JSON safe range required by JCS"},
      {Json(std::int64_t{-9007199254740991}), "-9007199254740991"},
      {Json(std::int64_t{-9007199254740992}),
       "integer -9007199254740992 exceeds the I-JSON safe range required by JCS"},
      {Json(INT64_MIN), "integer -9223372036854775808 exceeds the I-JSON safe range required by JCS"},
      {Json(1.0), "1"},
      {Json(0.5), "0.5"},
      {Json(-0.0), "0"},
      {Json(1e21), "1e+21"},
      {Json(1e-7), "1e-7"},
      {Json(0.000001), "0.000001"},
      {Json(1.5e300), "1.5e+300"},
      {Json(9007199254740991.0), "9007199254740991"},
      {Json(1e16), "number 10000000000000000 would serialize as an integer outside the I-JSON safe range required by JCS"},
      {Json(-1e20), "number -100000000000000000000 would serialize as an integer outside the I-JSON safe range required by JCS"},
      {Json(std::numeric_limits<double>::infinity()), "non-finite number in JCS input"},
      {Json(std::numeric_limits<double>::quiet_NaN()), "non-finite number in JCS input"},
  };
  for (const auto& c : cases) {
    auto out = canonical_json(c.value);
    EXPECT_EQ(out.ok() ? *out : out.error().message, c.text);
  }
}

TEST(JcsWriter, StringsAndContainers) {
  EXPECT_EQ(jcs(Json("\x1f")), "\"\\u001f\"");
  EXPECT_EQ(jcs(Json("\x7f")), "\"\x7f\"");
  EXPECT_EQ(jcs(Json("\xe2\x80\xa8")), "\"\xe2\x80\xa8\"");
  EXPECT_EQ(jcs(Json("\t\b\f\n\r\"\\/")), "\"\\t\\b\\f\\n\\r\\\"\\\\/\"");
  EXPECT_EQ(jcs(Json(JsonArray{})), "[]");
  EXPECT_EQ(jcs(Json(JsonObject{})), "{}");
  EXPECT_EQ(jcs(Json(JsonBytes{0, 7, 255})), "[0,7,255]");
}

TEST(JcsWriter, KeysSortByUtf16CodeUnits) {
  EXPECT_EQ(jcs(parse(R"({"b":1,"a":2,"aa":3})")), R"({"a":2,"aa":3,"b":1})");
  // U+10000 is the surrogate pair D800 DC00, so it sorts before U+E000
  // although its UTF-8 form is greater.
  JsonObject o;
  o.emplace_back("\xee\x80\x80", Json(1));
  o.emplace_back("\xf0\x90\x80\x80", Json(2));
  EXPECT_EQ(jcs(Json(o)), "{\"\xf0\x90\x80\x80\":2,\"\xee\x80\x80\":1}");
  EXPECT_TRUE(utf16_less("a", "aa"));
  EXPECT_FALSE(utf16_less("aa", "a"));
  EXPECT_FALSE(utf16_less("a", "a"));
}

TEST(JcsWriter, PlainKeepsInsertionOrder) {
  JsonObject o;
  o.emplace_back("b", Json(1));
  o.emplace_back("a", Json(JsonArray{Json(0.5), Json(nullptr), Json(true)}));
  auto out = plain_json(Json(o));
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(*out, R"({"b":1,"a":[0.5,null,true]})");
}

}  // namespace
}  // namespace quillane
