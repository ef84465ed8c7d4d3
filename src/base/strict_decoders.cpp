#include "base/strict_decoders.h"

namespace quillane {

Result<Digest> read_digest(JsonReader& r) {
  constexpr std::string_view kExpected = "an array of 32 integers";
  QL_TRY(r.begin_array(kExpected));
  Digest d{};
  std::size_t n = 0;
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(bool more, r.next_element(cursor));
    if (!more) break;
    if (n < d.size()) {
      QL_ASSIGN(std::uint64_t b, r.read_unsigned(255, "u8"));
      d[n] = static_cast<std::uint8_t>(b);
    } else {
      QL_TRY(r.skip_value());
    }
    ++n;
  }
  if (n != d.size()) return r.error("invalid length " + std::to_string(n) + ", expected " + std::string(kExpected));
  return d;
}

Json digest_json(const Digest& d) { return Json(JsonBytes(d.begin(), d.end())); }

Json bytes_json(std::span<const std::uint8_t> bytes) { return Json(JsonBytes(bytes.begin(), bytes.end())); }

Result<std::size_t> FieldSet::accept(const JsonReader& r, std::string_view key) {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] != key) continue;
    if (has(i)) return r.error("duplicate field `" + std::string(key) + "`");
    seen_ |= std::uint64_t{1} << i;
    return i;
  }
  return r.error("unknown field `" + std::string(key) + "`, expected " + expected_one_of(names_));
}

Status FieldSet::check_required(const JsonReader& r) const {
  for (std::size_t i = 0; i < names_.size(); ++i)
    if ((required_ >> i & 1u) && !has(i)) return r.error("missing field `" + std::string(names_[i]) + "`");
  return {};
}

}  // namespace quillane
