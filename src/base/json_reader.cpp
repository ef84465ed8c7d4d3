#include "base/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "base/jcs_writer.h"
#include "base/number_format.h"

namespace quillane {
namespace {

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the valid UTF-8 sequence at s[i], or 0 when it is invalid
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
std::size_t utf8_sequence_length(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](std::size_t k) {
    return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
  };
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) return cont(1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (b0 == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (b0 == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (b0 == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (b0 == 0xF4 && byte(1) >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

void append_utf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Position of the first significant digit relative to the decimal point,
// plus the exponent: the literal's magnitude is about 10^result. Used only to
// tell overflow from underflow.
long long decimal_exponent(std::string_view literal) {
  long long exponent = 0;
  const auto e = literal.find_first_of("eE");
  if (e != std::string_view::npos) {
    std::string_view digits = literal.substr(e + 1);
    bool minus = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), 1LL << 40);
    if (minus) exponent = -exponent;
    literal = literal.substr(0, e);
  }
  long long position = 0;  // digits before the point, after leading zeros
  bool seen_point = false, significant = false;
  for (char c : literal) {
    if (c == '-') continue;
    if (c == '.') {
      seen_point = true;
      continue;
    }
    if (c != '0') significant = true;
    if (!seen_point && significant) ++position;
    if (seen_point && !significant) --position;
  }
  return position + exponent;
}

std::string float_text(double x) {
  std::string t = format_ecmascript(x);
  if (t.find_first_of(".e") == std::string::npos) t += ".0";
  return t;
}

}  // namespace

std::string expected_one_of(std::span<const std::string_view> names) {
  auto ticked = [](std::string& out, std::string_view name) {
    out += '`';
    out.append(name);
    out += '`';
  };
  std::string out;
  if (names.size() > 2) out = "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) out.append(names.size() == 2 ? " or " : ", ");
    ticked(out, names[i]);
  }
  return out;
}

Error JsonReader::error(std::string_view message) const {
  const std::size_t i = std::min(pos_, in_.size());
  const std::size_t nl = in_.substr(0, i).rfind('\n');
  const std::size_t line_start = nl == std::string_view::npos ? 0 : nl + 1;
  std::size_t line = 1;
  for (std::size_t k = 0; k < line_start; ++k)
    if (in_[k] == '\n') ++line;
  return Error{std::string(message) + " at line " + std::to_string(line) + " column " +
               std::to_string(i - line_start)};
}

Error JsonReader::error_at_next(std::string_view message) const {
  JsonReader at(in_);
  at.pos_ = std::min(pos_ + 1, in_.size());
  return at.error(message);
}

void JsonReader::skip_ws() {
  while (pos_ < in_.size() && is_ws(in_[pos_])) ++pos_;
}

Result<char> JsonReader::peek_value_start() {
  skip_ws();
  if (at_end()) return error("EOF while parsing a value");
  return peek_byte();
}

Status JsonReader::enter() {
  if (depth_ >= kMaxJsonDepth) return error_at_next("recursion limit exceeded");
  ++depth_;
  ++pos_;
  return {};
}

Error JsonReader::invalid_type(std::string_view expected) {
  auto start = peek_value_start();
  if (!start) return start.error();
  const std::string tail = ", expected " + std::string(expected);
  switch (*start) {
    case '[': return error("invalid type: sequence" + tail);
    case '{': return error("invalid type: map" + tail);
    case 'n': {
      if (auto s = expect_literal("null"); !s) return s.error();
      return error("invalid type: null" + tail);
    }
    case 't':
    case 'f': {
      const bool value = *start == 't';
      if (auto s = expect_literal(value ? "true" : "false"); !s) return s.error();
      return error(std::string("invalid type: boolean `") + (value ? "true" : "false") + "`" + tail);
    }
    case '"': {
      auto s = parse_string();
      if (!s) return s.error();
      std::string quoted;
      write_string(*s, quoted);
      return error("invalid type: string " + quoted + tail);
    }
    default: {
      if (*start != '-' && !is_digit(*start)) return error_at_next("expected value");
      auto n = parse_number();
      if (!n) return n.error();
      return number_error(*n, expected, true);
    }
  }
}

Error JsonReader::number_error(const Number& n, std::string_view expected, bool as_type) {
  const std::string tail = ", expected " + std::string(expected);
  const std::string kind = as_type ? "invalid type: " : "invalid value: ";
  switch (n.type) {
    case Json::Type::UInt: return error(kind + "integer `" + std::to_string(n.u) + "`" + tail);
    case Json::Type::Int: return error(kind + "integer `" + std::to_string(n.i) + "`" + tail);
    default: return error("invalid type: floating point `" + float_text(n.f) + "`" + tail);
  }
}

Status JsonReader::expect_literal(std::string_view word) {
  for (char c : word) {
    if (at_end()) return error("EOF while parsing a value");
    if (in_[pos_] != c) return error_at_next("expected ident");
    ++pos_;
  }
  return {};
}

Status JsonReader::begin_array(std::string_view expected) {
  QL_ASSIGN(char c, peek_value_start());
  if (c != '[') return invalid_type(expected);
  return enter();
}

Result<bool> JsonReader::next_element(Cursor& cursor) {
  skip_ws();
  if (at_end()) return error("EOF while parsing a list");
  char c = peek_byte();
  if (c == ']') {
    ++pos_;
    --depth_;
    return false;
  }
  if (!cursor.first) {
    if (c != ',') return error_at_next("expected `,` or `]`");
    ++pos_;
    skip_ws();
    if (!at_end() && peek_byte() == ']') return error_at_next("trailing comma");
  }
  cursor.first = false;
  return true;
}

Status JsonReader::begin_object(std::string_view expected) {
  QL_ASSIGN(char c, peek_value_start());
  if (c != '{') return invalid_type(expected);
  return enter();
}

Result<std::optional<std::string>> JsonReader::next_key(Cursor& cursor) {
  skip_ws();
  if (at_end()) return error("EOF while parsing an object");
  char c = peek_byte();
  if (c == '}') {
    ++pos_;
    --depth_;
    return std::optional<std::string>{};
  }
  if (!cursor.first) {
    if (c != ',') return error_at_next("expected `,` or `}`");
    ++pos_;
    skip_ws();
    if (at_end()) return error("EOF while parsing a value");
    if (peek_byte() == '}') return error_at_next("trailing comma");
  }
  cursor.first = false;
  if (peek_byte() != '"') return error_at_next("key must be a string");
  QL_ASSIGN(std::string key, parse_string());
  return std::optional<std::string>(std::move(key));
}

Status JsonReader::colon() {
  skip_ws();
  if (at_end()) return error("EOF while parsing an object");
  if (peek_byte() != ':') return error_at_next("expected `:`");
  ++pos_;
  return {};
}

Result<std::string> JsonReader::read_string(std::string_view expected) {
  QL_ASSIGN(char c, peek_value_start());
  if (c != '"') return invalid_type(expected);
  return parse_string();
}

Result<bool> JsonReader::read_bool(std::string_view expected) {
  QL_ASSIGN(char c, peek_value_start());
  if (c != 't' && c != 'f') return invalid_type(expected);
  QL_TRY(expect_literal(c == 't' ? "true" : "false"));
  return c == 't';
}

Result<bool> JsonReader::consume_null() {
  QL_ASSIGN(char c, peek_value_start());
  if (c != 'n') return false;
  QL_TRY(expect_literal("null"));
  return true;
}

Result<std::uint64_t> JsonReader::read_unsigned(std::uint64_t max, std::string_view type_name) {
  QL_ASSIGN(char c, peek_value_start());
  if (c != '-' && !is_digit(c)) return invalid_type(type_name);
  QL_ASSIGN(Number n, parse_number());
  if (n.type == Json::Type::UInt && n.u <= max) return n.u;
  return number_error(n, type_name, false);
}

Result<JsonBytes> JsonReader::read_bytes(std::string_view expected) {
  QL_TRY(begin_array(expected));
  JsonBytes bytes;
  Cursor cursor;
  for (;;) {
    QL_ASSIGN(bool more, next_element(cursor));
    if (!more) break;
    // Fast path for the common plain literal of one to three digits.
    std::size_t p = pos_;
    unsigned v = 0;
    std::size_t digits = 0;
    while (p < in_.size() && is_digit(in_[p]) && digits < 4) v = v * 10 + static_cast<unsigned>(in_[p++] - '0'), ++digits;
    const bool plain = digits >= 1 && digits <= 3 && v <= 255 && !(digits > 1 && in_[pos_] == '0') &&
                       (p >= in_.size() || (in_[p] != '.' && in_[p] != 'e' && in_[p] != 'E' && !is_digit(in_[p])));
    if (plain) {
      pos_ = p;
      bytes.push_back(static_cast<std::uint8_t>(v));
      continue;
    }
    QL_ASSIGN(std::uint64_t b, read_unsigned(255, "u8"));
    bytes.push_back(static_cast<std::uint8_t>(b));
  }
  return bytes;
}

Result<JsonReader::Number> JsonReader::parse_number() {
  const std::size_t start = pos_;
  bool negative = false;
  if (in_[pos_] == '-') {
    negative = true;
    ++pos_;
  }
  if (at_end()) return error("EOF while parsing a value");
  if (!is_digit(peek_byte())) return error_at_next("invalid number");
  bool overflow = false;
  std::uint64_t mag = 0;
  if (peek_byte() == '0') {
    ++pos_;
    if (!at_end() && is_digit(peek_byte())) return error_at_next("invalid number");
  } else {
    while (!at_end() && is_digit(peek_byte())) {
      const auto d = static_cast<std::uint64_t>(peek_byte() - '0');
      if (mag > (UINT64_MAX - d) / 10) overflow = true;
      else mag = mag * 10 + d;
      ++pos_;
    }
  }
  bool is_float = false;
  if (!at_end() && peek_byte() == '.') {
    is_float = true;
    ++pos_;
    if (at_end()) return error("EOF while parsing a value");
    if (!is_digit(peek_byte())) return error_at_next("invalid number");
    while (!at_end() && is_digit(peek_byte())) ++pos_;
  }
  if (!at_end() && (peek_byte() == 'e' || peek_byte() == 'E')) {
    is_float = true;
    ++pos_;
    if (!at_end() && (peek_byte() == '+' || peek_byte() == '-')) ++pos_;
    if (at_end()) return error("EOF while parsing a value");
    if (!is_digit(peek_byte())) return error_at_next("invalid number");
    while (!at_end() && is_digit(peek_byte())) ++pos_;
  }
  Number n{};
  if (!is_float && !overflow) {
    if (!negative) {
      n.type = Json::Type::UInt;
      n.u = mag;
      return n;
    }
    if (mag != 0 && mag <= static_cast<std::uint64_t>(INT64_MAX) + 1) {
      n.type = Json::Type::Int;
      n.i = static_cast<std::int64_t>(0 - mag);
      return n;
    }
  }
  // Everything else is a correctly rounded 64-bit float.
  const char* first = in_.data() + start;
  const char* last = in_.data() + pos_;
  double x = 0;
  auto res = std::from_chars(first, last, x);
  if (res.ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow to infinity is an error.
    if (decimal_exponent(std::string_view(first, last)) > 0) return error("number out of range");
    x = negative ? -0.0 : 0.0;
  } else if (res.ec != std::errc() || res.ptr != last) {
    return error("invalid number");
  }
  if (std::isinf(x)) return error("number out of range");
  n.type = Json::Type::Float;
  n.f = x;
  return n;
}

Result<std::uint16_t> JsonReader::parse_hex4() {
  std::uint16_t v = 0;
  for (int k = 0; k < 4; ++k) {
    if (at_end()) return error("EOF while parsing a string");
    const char c = peek_byte();
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return error_at_next("invalid escape");
    v = static_cast<std::uint16_t>(v * 16 + d);
    ++pos_;
  }
  return v;
}

Status JsonReader::parse_escape(std::string& out) {
  if (at_end()) return error("EOF while parsing a string");
  const char c = peek_byte();
  ++pos_;
  switch (c) {
    case '"': out += '"'; return {};
    case '\\': out += '\\'; return {};
    case '/': out += '/'; return {};
    case 'b': out += '\b'; return {};
    case 'f': out += '\f'; return {};
    case 'n': out += '\n'; return {};
    case 'r': out += '\r'; return {};
    case 't': out += '\t'; return {};
    case 'u': break;
    default: return error("invalid escape");
  }
  QL_ASSIGN(std::uint16_t unit, parse_hex4());
  if (unit >= 0xDC00 && unit <= 0xDFFF) return error("lone trailing surrogate in hex escape");
  if (unit < 0xD800 || unit > 0xDBFF) {
    append_utf8(unit, out);
    return {};
  }
  if (in_.substr(pos_, 2) != "\\u") return error("lone leading surrogate in hex escape");
  pos_ += 2;
  QL_ASSIGN(std::uint16_t low, parse_hex4());
  if (low < 0xDC00 || low > 0xDFFF) return error("lone leading surrogate in hex escape");
  append_utf8(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00u), out);
  return {};
}

Result<std::string> JsonReader::parse_string() {
  ++pos_;  // opening quote
  std::string out;
  std::size_t run = pos_;
  for (;;) {
    if (at_end()) return error("EOF while parsing a string");
    const auto c = static_cast<unsigned char>(peek_byte());
    if (c == '"') {
      out.append(in_.substr(run, pos_ - run));
      ++pos_;
      return out;
    }
    if (c == '\\') {
      out.append(in_.substr(run, pos_ - run));
      ++pos_;
      QL_TRY(parse_escape(out));
      run = pos_;
    } else if (c < 0x20) {
      return error_at_next("control character (\\u0000-\\u001F) found while parsing a string");
    } else if (c < 0x80) {
      ++pos_;
    } else {
      const std::size_t len = utf8_sequence_length(in_, pos_);
      if (len == 0) return error_at_next("invalid unicode code point");
      pos_ += len;
    }
  }
}

Result<Json> JsonReader::read_value() { return read_value_at_depth(); }

Result<Json> JsonReader::read_value_at_depth() {
  QL_ASSIGN(char c, peek_value_start());
  switch (c) {
    case 'n': QL_TRY(expect_literal("null")); return Json();
    case 't': QL_TRY(expect_literal("true")); return Json(true);
    case 'f': QL_TRY(expect_literal("false")); return Json(false);
    case '"': {
      QL_ASSIGN(std::string s, parse_string());
      return Json(std::move(s));
    }
    case '[': {
      QL_TRY(enter());
      JsonArray items;
      Cursor cursor;
      for (;;) {
        QL_ASSIGN(bool more, next_element(cursor));
        if (!more) break;
        QL_ASSIGN(Json item, read_value_at_depth());
        items.push_back(std::move(item));
      }
      return Json(std::move(items));
    }
    case '{': {
      QL_TRY(enter());
      JsonObject members;
      std::unordered_set<std::string> seen;
      Cursor cursor;
      for (;;) {
        QL_ASSIGN(auto key, next_key(cursor));
        if (!key) break;
        if (!seen.insert(*key).second) return error("duplicate key `" + *key + "`");
        QL_TRY(colon());
        QL_ASSIGN(Json value, read_value_at_depth());
        members.emplace_back(std::move(*key), std::move(value));
      }
      return Json(std::move(members));
    }
    default: {
      if (c != '-' && !is_digit(c)) return error_at_next("expected value");
      QL_ASSIGN(Number n, parse_number());
      switch (n.type) {
        case Json::Type::UInt: return Json(n.u);
        case Json::Type::Int: return Json(n.i);
        default: return Json(n.f);
      }
    }
  }
}

Status JsonReader::skip_value() {
  auto v = read_value_at_depth();
  if (!v) return std::move(v).error();
  return {};
}

Status JsonReader::finish() {
  skip_ws();
  if (!at_end()) return error_at_next("trailing characters");
  return {};
}

}  // namespace quillane
