#include "lib/text.h"

namespace quillane::py {

std::string_view trim_unicode_space(std::string_view s) {
  auto space_len_at = [&](std::size_t i) -> std::size_t {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    auto rest = s.substr(i);
    static constexpr std::string_view kMultiByte[] = {
        "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
        "\xE2\x81\x9F", "\xE3\x80\x80"};
    for (auto ws : kMultiByte)
      if (rest.starts_with(ws)) return ws.size();
    // U+2000..U+200A
    if (rest.size() >= 3 && static_cast<unsigned char>(rest[0]) == 0xE2 &&
        static_cast<unsigned char>(rest[1]) == 0x80 && static_cast<unsigned char>(rest[2]) >= 0x80 &&
        static_cast<unsigned char>(rest[2]) <= 0x8A)
      return 3;
    return 0;
  };
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t n = space_len_at(begin);
    if (n == 0) break;
    begin += n;
  }
  s.remove_prefix(begin);
  // From the end: step back over whole code points.
  for (;;) {
    std::size_t start = s.size();
    if (start == 0) break;
    do --start;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80);
    if (space_len_at(start) != s.size() - start) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
}

}  // namespace quillane::py
