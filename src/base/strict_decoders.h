// Decoders for the shapes shared by every strict structure: digests, byte
// strings, sets, maps and pair-encoded maps that refuse duplicates, and the
// field bookkeeping of objects with a fixed set of keys.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/digest.h"
#include "base/json_reader.h"
#include "base/json_value.h"

namespace quillane {

// An array of exactly 32 integers 0 to 255.
Result<Digest> read_digest(JsonReader& r);
Json digest_json(const Digest& d);
Json bytes_json(std::span<const std::uint8_t> bytes);

// Reads one value of T from the whole text; only white space may follow.
template <typename T>
Result<T> decode_whole(std::string_view bytes, Result<T> (*read)(JsonReader&)) {
  JsonReader r(bytes);
  QL_ASSIGN(T value, read(r));
  QL_TRY(r.finish());
  return value;
}

// A string value.
inline Result<std::string> read_text(JsonReader& r) { return r.read_string("a string"); }

// Stores a decoded value into its field, or passes the error on.
template <typename T, typename R>
Status store(T& field, R&& result) {
  if (!result) return std::move(result).error();
  field = std::move(result).value();
  return {};
}

// null (or, for the caller, an absent key) is none; anything else decodes as T.
template <typename T, typename Decode>
Result<std::optional<T>> read_optional(JsonReader& r, Decode decode) {
  QL_ASSIGN(bool is_null, r.consume_null());
  if (is_null) return std::optional<T>{};
  QL_ASSIGN(T value, decode(r));
  return std::optional<T>(std::move(value));
}

template <typename T, typename ToJson>
Json optional_json(const std::optional<T>& value, ToJson to_json) {
  return value ? to_json(*value) : Json();
}

// An array of T in document order.
template <typename T, typename Decode>
Result<std::vector<T>> read_list(JsonReader& r, Decode decode) {
  QL_TRY(r.begin_array("a sequence"));
  std::vector<T> out;
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(bool more, r.next_element(cursor));
    if (!more) return out;
    QL_ASSIGN(T item, decode(r));
    out.push_back(std::move(item));
  }
}

template <typename T, typename ToJson>
Json list_json(const std::vector<T>& items, ToJson to_json) {
  JsonArray out;
  out.reserve(items.size());
  for (const auto& item : items) out.push_back(to_json(item));
  return Json(std::move(out));
}

// Members in any order; a repeated member fails with "duplicate set member".
template <typename T, typename Decode, typename Compare = std::less<T>>
Result<std::set<T, Compare>> strict_set(JsonReader& r, Decode decode) {
  QL_TRY(r.begin_array("a sequence with unique members"));
  std::set<T, Compare> out;
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(bool more, r.next_element(cursor));
    if (!more) return out;
    QL_ASSIGN(T member, decode(r));
    if (!out.insert(std::move(member)).second) return r.error("duplicate set member");
  }
}

// An object whose keys decode as K; a repeated key fails with "duplicate map key".
template <typename K, typename V, typename DecodeKey, typename DecodeValue>
Result<std::map<K, V>> strict_map(JsonReader& r, DecodeKey decode_key, DecodeValue decode_value) {
  QL_TRY(r.begin_object("a JSON object with unique keys"));
  std::map<K, V> out;
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(auto text, r.next_key(cursor));
    if (!text) return out;
    QL_ASSIGN(K key, decode_key(r, std::move(*text)));
    QL_TRY(r.colon());
    QL_ASSIGN(V value, decode_value(r));
    if (!out.emplace(std::move(key), std::move(value)).second) return r.error("duplicate map key");
  }
}

// An array of [key, value] pairs; a repeated key fails with
// "duplicate key in pair-encoded map".
template <typename K, typename V, typename DecodeKey, typename DecodeValue>
Result<std::map<K, V>> map_as_pairs(JsonReader& r, DecodeKey decode_key, DecodeValue decode_value) {
  QL_TRY(r.begin_array("a sequence of unique [key, value] pairs"));
  std::map<K, V> out;
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(bool more, r.next_element(cursor));
    if (!more) return out;
    QL_TRY(r.begin_array("a [key, value] pair"));
    JsonReader::Cursor pair;
    QL_ASSIGN(bool has_key, r.next_element(pair));
    if (!has_key) return r.error("invalid length 0, expected a [key, value] pair");
    QL_ASSIGN(K key, decode_key(r));
    QL_ASSIGN(bool has_value, r.next_element(pair));
    if (!has_value) return r.error("invalid length 1, expected a [key, value] pair");
    QL_ASSIGN(V value, decode_value(r));
    QL_ASSIGN(bool extra, r.next_element(pair));
    if (extra) return r.error("invalid length, expected a [key, value] pair");
    if (!out.emplace(std::move(key), std::move(value)).second)
      return r.error("duplicate key in pair-encoded map");
  }
}

// Bookkeeping for an object with a fixed list of keys: refuses unknown and
// repeated keys, and reports the first missing required key.
class FieldSet {
 public:
  // `required` has bit i set when names[i] must be present.
  FieldSet(std::span<const std::string_view> names, std::uint64_t required)
      : names_(names), required_(required) {}
  static constexpr std::uint64_t first(std::size_t n) { return (std::uint64_t{1} << n) - 1; }

  // The index of `key`, or the unknown- or duplicate-field error.
  Result<std::size_t> accept(const JsonReader& r, std::string_view key);
  // The missing-field error for the first absent required key, if any.
  Status check_required(const JsonReader& r) const;
  bool has(std::size_t index) const { return (seen_ >> index) & 1u; }

 private:
  std::span<const std::string_view> names_;
  std::uint64_t required_;
  std::uint64_t seen_ = 0;
};

// Reads an object with fixed keys: `on_field(index)` decodes each value.
template <typename OnField>
Status read_fields(JsonReader& r, std::string_view expected, FieldSet& fields, OnField on_field) {
  QL_TRY(r.begin_object(expected));
  JsonReader::Cursor cursor;
  for (;;) {
    QL_ASSIGN(auto key, r.next_key(cursor));
    if (!key) break;
    QL_ASSIGN(std::size_t index, fields.accept(r, *key));
    QL_TRY(r.colon());
    QL_TRY(on_field(index));
  }
  return fields.check_required(r);
}

}  // namespace quillane
