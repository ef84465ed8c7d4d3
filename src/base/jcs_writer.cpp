#include "base/jcs_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "base/number_format.h"

namespace quillane {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_uint(std::uint64_t n, std::string& out) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, res.ptr);
}

Status write_number_uint(std::uint64_t n, std::string& out) {
  if (n > kMaxSafeInteger)
    return Error{"integer " + std::to_string(n) + " exceeds the I-JSON safe range required by JCS"};
  append_uint(n, out);
  return {};
}

Status write_number_int(std::int64_t n, std::string& out) {
  // Magnitude computed without overflow for INT64_MIN.
  const std::uint64_t magnitude = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  if (magnitude > kMaxSafeInteger)
    return Error{"integer " + std::to_string(n) + " exceeds the I-JSON safe range required by JCS"};
  if (n < 0) out += '-';
  append_uint(magnitude, out);
  return {};
}

Status write_number_float(double x, std::string& out) {
  if (!std::isfinite(x)) return Error{"non-finite number in JCS input"};
  const double magnitude = std::fabs(x);
  if (magnitude > 9007199254740991.0 && magnitude < 1e21)
    return Error{"number " + format_plain_decimal(x) +
                 " would serialize as an integer outside the I-JSON safe range required by JCS"};
  out += format_ecmascript(x);
  return {};
}

void write_bytes(const JsonBytes& bytes, std::string& out) {
  out += '[';
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ',';
    append_uint(bytes[i], out);
  }
  out += ']';
}

// Decodes one UTF-8 sequence starting at s[i] (input known valid) and
// returns its code point, advancing i.
char32_t next_code_point(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) { ++i; return b0; }
  int len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
  char32_t cp = b0 & (0x3F >> (len - 1));
  for (int k = 1; k < len && i + static_cast<std::size_t>(k) < s.size(); ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3F);
  i += static_cast<std::size_t>(len);
  return cp;
}

template <bool kCanonical>
Status write_node(const Json& node, std::string& out) {
  using T = Json::Type;
  switch (node.type()) {
    case T::Null: out += "null"; return {};
    case T::Bool: out += node.as_bool() ? "true" : "false"; return {};
    case T::UInt: return write_number_uint(node.as_uint(), out);
    case T::Int: return write_number_int(node.as_int(), out);
    case T::Float: return write_number_float(node.as_float(), out);
    case T::String: write_string(node.as_string(), out); return {};
    case T::Bytes: write_bytes(node.as_bytes(), out); return {};
    case T::Array: {
      out += '[';
      bool first = true;
      for (const Json& e : node.as_array()) {
        if (!first) out += ',';
        first = false;
        QL_TRY(write_node<kCanonical>(e, out));
      }
      out += ']';
      return {};
    }
    case T::Object: {
      const JsonObject& members = node.as_object();
      std::vector<const JsonObject::value_type*> order;
      order.reserve(members.size());
      for (const auto& m : members) order.push_back(&m);
      if constexpr (kCanonical)
        std::stable_sort(order.begin(), order.end(),
                         [](auto* a, auto* b) { return utf16_less(a->first, b->first); });
      out += '{';
      bool first = true;
      for (const auto* m : order) {
        if (!first) out += ',';
        first = false;
        write_string(m->first, out);
        out += ':';
        QL_TRY(write_node<kCanonical>(m->second, out));
      }
      out += '}';
      return {};
    }
  }
  return {};
}

}  // namespace

bool utf16_less(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (ca != cb) return ca < cb;
      ++i, ++j;
      continue;
    }
    // Compare the first UTF-16 code unit, then the second of a pair.
    char32_t pa = next_code_point(a, i), pb = next_code_point(b, j);
    if (pa == pb) continue;
    auto unit = [](char32_t cp, int k) -> char32_t {
      if (cp < 0x10000) return k == 0 ? cp : 0;
      cp -= 0x10000;
      return k == 0 ? 0xD800 + (cp >> 10) : 0xDC00 + (cp & 0x3FF);
    };
    if (unit(pa, 0) != unit(pb, 0)) return unit(pa, 0) < unit(pb, 0);
    return unit(pa, 1) < unit(pb, 1);
  }
  return a.size() - i < b.size() - j;
}

void write_string(std::string_view text, std::string& out) {
  out += '"';
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(run, i - run));
    run = i + 1;
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text.substr(run));
  out += '"';
}

Status write_jcs(const Json& node, std::string& out) { return write_node<true>(node, out); }

Result<std::string> canonical_json(const Json& node) {
  std::string out;
  QL_TRY(write_node<true>(node, out));
  return out;
}

Result<std::string> plain_json(const Json& node) {
  std::string out;
  QL_TRY(write_node<false>(node, out));
  return out;
}

}  // namespace quillane
