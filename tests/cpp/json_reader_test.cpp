#include <gtest/gtest.h>

#include <cmath>

#include "base/json_reader.h"
#include "base/strict_decoders.h"
#include "record/enums.h"
#include "test_util.h"

namespace quillane {
namespace {

using test::error_of;

Result<Json> parse(std::string_view text) {
  JsonReader r(text);
  QL_ASSIGN(Json v, r.read_value());
  QL_TRY(r.finish());
  return v;
}

TEST(JsonReader, RejectsMalformedText) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"[1,2] x", "trailing characters at line 1 column 7"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 2"},
      {"\"\xc0\xaf\"", "invalid unicode code point at line 1 column 2"},        // overlong
      {"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 2"},    // encoded surrogate
      {"\"\xf4\x90\x80\x80\"", "invalid unicode code point at line 1 column 2"},  // above U+10FFFF
      {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\udc00\"", "lone trailing surrogate in hex escape at line 1 column 7"},
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"01", "invalid number at line 1 column 2"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"1e999", "number out of range at line 1 column 5"},
      {"-1e999", "number out of range at line 1 column 6"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"\n\n  tru e", "expected ident at line 3 column 6"},
      {"{\"a\":1,\"a\":2}", "duplicate key `a` at line 1 column 10"},
      {"\xef\xbb\xbf{}", "expected value at line 1 column 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(parse(c.text)), c.error) << c.text;
}

TEST(JsonReader, NumberModel) {
  struct Case {
    std::string text;
    Json::Type type;
  };
  const Case cases[] = {
      {"0", Json::Type::UInt},
      {"18446744073709551615", Json::Type::UInt},
      {"18446744073709551616", Json::Type::Float},
      {"-1", Json::Type::Int},
      {"-9223372036854775808", Json::Type::Int},
      {"-9223372036854775809", Json::Type::Float},
      {"-0", Json::Type::Float},
      {"1.0", Json::Type::Float},
      {"1e2", Json::Type::Float},
  };
  for (const auto& c : cases) {
    auto v = parse(c.text);
    ASSERT_TRUE(v.ok()) << c.text;
    EXPECT_EQ(v->type(), c.type) << c.text;
  }
  EXPECT_EQ(parse("-9223372036854775808")->as_int(), INT64_MIN);
  EXPECT_TRUE(std::signbit(parse("-0")->as_float()));
  EXPECT_EQ(parse("1e-400")->as_float(), 0.0);
  EXPECT_EQ(parse("4.9406564584124654e-324")->as_float(), 5e-324);
  // Correct rounding at the halfway point between two floats.
  EXPECT_EQ(parse("9007199254740993")->as_uint(), 9007199254740993u);
  EXPECT_EQ(parse("9007199254740993.0")->as_float(), 9007199254740992.0);
  EXPECT_EQ(parse("0.1")->as_float(), 0.1);
}

TEST(JsonReader, StringsDecodeEscapesAndPairs) {
  EXPECT_EQ(parse(R"("\ud83d\ude02 \u00e9\/\"")")->as_string(), "\xf0\x9f\x98\x82 \xc3\xa9/\"");
  EXPECT_EQ(parse("\"\xe2\x82\xac\"")->as_string(), "\xe2\x82\xac");
}

TEST(JsonReader, DepthLimit) {
  const std::string ok = std::string(128, '[') + std::string(128, ']');
  EXPECT_TRUE(parse(ok).ok());
  const std::string deep = std::string(129, '[') + std::string(129, ']');
  EXPECT_EQ(error_of(parse(deep)), "recursion limit exceeded at line 1 column 129");
  // Far deeper input fails the same way, without exhausting the stack.
  const std::string hostile = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(error_of(parse(hostile)), "recursion limit exceeded at line 1 column 129");
  const std::string objects = [] {
    std::string s;
    for (int i = 0; i < 200; ++i) s += "{\"a\":";
    return s;
  }();
  EXPECT_NE(error_of(parse(objects)).find("recursion limit exceeded"), std::string::npos);
}

TEST(JsonReader, TypedErrorsNameWhatWasExpected) {
  auto digest = [](std::string_view text) {
    JsonReader r(text);
    return read_digest(r);
  };
  std::string thirty_two = "[0";
  for (int i = 1; i < 32; ++i) thirty_two += ",255";
  EXPECT_TRUE(digest(thirty_two + "]").ok());
  EXPECT_EQ(error_of(digest(thirty_two + ",1]")), "invalid length 33, expected an array of 32 integers at line 1 column 129");
  EXPECT_EQ(error_of(digest("[1,2]")), "invalid length 2, expected an array of 32 integers at line 1 column 5");
  EXPECT_EQ(error_of(digest("[256]")), "invalid value: integer `256`, expected u8 at line 1 column 4");
  EXPECT_EQ(error_of(digest("[-1]")), "invalid value: integer `-1`, expected u8 at line 1 column 3");
  EXPECT_EQ(error_of(digest("[1.0]")), "invalid type: floating point `1.0`, expected u8 at line 1 column 4");
  EXPECT_EQ(error_of(digest("\"00ff\"")),
            "invalid type: string \"00ff\", expected an array of 32 integers at line 1 column 6");
  EXPECT_EQ(error_of(digest("{}")), "invalid type: map, expected an array of 32 integers at line 1 column 0");

  JsonReader r("\"request\"");
  EXPECT_EQ(error_of(read_enum<Kind>(r)),
            "unknown variant `request`, expected one of `Request`, `Action`, `Response`, `Result`, `Summary`, "
            "`Approval`, `Capability`, `Usage`, `Refusal`, `Verdict`, `Plan`, `Retraction`, `Candidate`, "
            "`Evaluation`, `Selection`, `Requirement` at line 1 column 9");
  JsonReader b("\"Maybe\"");
  EXPECT_EQ(error_of(read_enum<VerdictResult>(b)),
            "unknown variant `Maybe`, expected `Accept` or `Reject` at line 1 column 7");
}

TEST(JsonReader, BytesFastPathAgreesWithStrictPath) {
  JsonReader r("[0, 9,10 ,99,100,255 , 1]");
  auto bytes = r.read_bytes("bytes");
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(*bytes, (JsonBytes{0, 9, 10, 99, 100, 255, 1}));
  for (const char* bad : {"[00]", "[1e0]", "[2550]", "[256]", "[1.5]", "[-0]"}) {
    JsonReader b(bad);
    EXPECT_FALSE(b.read_bytes("bytes").ok()) << bad;
  }
}

TEST(StrictDecoders, SetsMapsAndPairs) {
  auto kinds = [](std::string_view text) {
    JsonReader r(text);
    return strict_set<Kind>(r, read_enum<Kind>);
  };
  auto set = kinds(R"(["Candidate","Request"])");
  ASSERT_TRUE(set.ok());
  EXPECT_EQ(std::vector<Kind>(set->begin(), set->end()), (std::vector<Kind>{Kind::Request, Kind::Candidate}));
  EXPECT_EQ(error_of(kinds(R"(["Candidate","Candidate"])")), "duplicate set member at line 1 column 24");
  EXPECT_EQ(error_of(kinds("{}")),
            "invalid type: map, expected a sequence with unique members at line 1 column 0");

  auto enum_key = [](const JsonReader& r, std::string text) -> Result<Kind> {
    if (auto k = enum_from_name<Kind>(text)) return *k;
    return unknown_variant<Kind>(r, text);
  };
  auto thresholds = [&](std::string_view text) {
    JsonReader r(text);
    return strict_map<Kind, Evidence>(r, enum_key, read_enum<Evidence>);
  };
  EXPECT_EQ(error_of(thresholds(R"({"Candidate":"Reported","Candidate":"Assumed"})")),
            "duplicate map key at line 1 column 45");
  EXPECT_EQ(error_of(thresholds("[]")), "invalid type: sequence, expected a JSON object with unique keys at line 1 column 0");

  auto pairs = [](std::string_view text) {
    JsonReader r(text);
    return map_as_pairs<std::string, Kind>(r, [](JsonReader& rr) { return rr.read_string("a string"); },
                                           read_enum<Kind>);
  };
  auto ok = pairs(R"([["b","Plan"],["a","Request"]])");
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->begin()->first, "a");
  EXPECT_EQ(error_of(pairs(R"([["a","Plan"],["a","Request"]])")),
            "duplicate key in pair-encoded map at line 1 column 29");
  EXPECT_FALSE(pairs(R"([["a"]])").ok());
  EXPECT_FALSE(pairs(R"([["a","Plan","x"]])").ok());
  EXPECT_FALSE(pairs(R"(["a"])").ok());
}

}  // namespace
}  // namespace quillane
