#include "base/quoted.h"

#include <cstdio>

namespace quillane {
namespace {

// Characters that are not printable: controls, format characters, line and
// paragraph separators, private use, unassigned noncharacters and tags.
bool is_non_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  if (c == 0xAD || c == 0x061C || c == 0x06DD || c == 0x070F || c == 0x180E || c == 0xFEFF) return true;
  if (c >= 0x0600 && c <= 0x0605) return true;
  if (c >= 0x200B && c <= 0x200F) return true;
  if (c >= 0x2028 && c <= 0x202E) return true;
  if (c >= 0x2060 && c <= 0x206F) return true;
  if (c >= 0xD800 && c <= 0xF8FF) return true;  // surrogates and private use
  if (c >= 0xFFF0 && c <= 0xFFFB) return true;
  if ((c & 0xFFFE) == 0xFFFE) return true;  // noncharacters U+xxFFFE, U+xxFFFF
  if (c >= 0xE0000 && c <= 0xE0FFF) return true;
  if (c >= 0xF0000) return true;
  return false;
}

}  // namespace

std::string quoted_form(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t len = b0 < 0x80 ? 1 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
    if (i + len > text.size()) len = text.size() - i;
    char32_t c = len == 1 ? b0 : b0 & (0x3F >> (len - 1));
    for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case 0: out += "\\0"; break;
      default:
        if (is_non_printable(c)) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
          out += buf;
        } else {
          out.append(text.substr(i, len));
        }
    }
    i += len;
  }
  out += '"';
  return out;
}

}  // namespace quillane
