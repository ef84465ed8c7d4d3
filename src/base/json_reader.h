// The one strict JSON reader every decoder uses. It is a pull parser over a
// byte buffer: decoders ask for the shape they expect, and every error names
// what was expected and where, as "<message> at line L column C".
//
// Accepted text is RFC 8259 JSON with valid UTF-8, no unescaped control
// characters, no lone surrogate escapes, and nesting of at most 128 levels.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/json_value.h"
#include "base/result.h"

namespace quillane {

inline constexpr int kMaxJsonDepth = 128;

class JsonReader {
 public:
  explicit JsonReader(std::string_view input) : in_(input) {}

  // Errors located after the last consumed byte, or at the next byte.
  Error error(std::string_view message) const;
  Error error_at_next(std::string_view message) const;

  // Describes the next value (consuming it if it is a scalar) in an
  // "invalid type: <found>, expected <expected>" error.
  Error invalid_type(std::string_view expected);

  // Arrays: begin_array, then next_element until it returns false (which
  // consumes the closing bracket).
  struct Cursor {
    bool first = true;
  };
  Status begin_array(std::string_view expected);
  Result<bool> next_element(Cursor& cursor);

  // Objects: begin_object, then next_key until it yields nothing (which
  // consumes the closing brace); after each key call colon() before the value.
  Status begin_object(std::string_view expected);
  Result<std::optional<std::string>> next_key(Cursor& cursor);
  Status colon();

  Result<std::string> read_string(std::string_view expected);
  Result<bool> read_bool(std::string_view expected);
  // Consumes a null and returns true when the next value is null.
  Result<bool> consume_null();
  // An integer 0..max; type_name ("u8", "u32", "u64") names it in errors.
  Result<std::uint64_t> read_unsigned(std::uint64_t max, std::string_view type_name);
  // An array of integers 0..255 of any length.
  Result<JsonBytes> read_bytes(std::string_view expected);
  // Any value, with the number model of Json and duplicate keys refused.
  Result<Json> read_value();
  Status skip_value();
  // Only white space may follow the value.
  Status finish();

 private:
  struct Number {
    Json::Type type;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double f = 0;
  };

  void skip_ws();
  bool at_end() const { return pos_ >= in_.size(); }
  char peek_byte() const { return in_[pos_]; }
  Result<char> peek_value_start();
  Status enter();
  Status expect_literal(std::string_view word);
  Result<Number> parse_number();
  Result<std::string> parse_string();
  Status parse_escape(std::string& out);
  Result<std::uint16_t> parse_hex4();
  Result<Json> read_value_at_depth();
  Error number_error(const Number& n, std::string_view expected, bool as_type);

  std::string_view in_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`" as in the unknown-name errors.
std::string expected_one_of(std::span<const std::string_view> names);

}  // namespace quillane
