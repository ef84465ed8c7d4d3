// Enumerations travel as their variant names; declaration order is part of
// the format. Each enumeration specialises EnumNames with its names in order.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "base/json_reader.h"

namespace quillane {

template <typename E>
struct EnumNames;  // static constexpr std::array<std::string_view, N> names;

template <typename E>
constexpr std::string_view name_of(E value) {
  return EnumNames<E>::names[static_cast<std::size_t>(value)];
}

template <typename E>
constexpr std::size_t enum_count() {
  return EnumNames<E>::names.size();
}

template <typename E>
std::optional<E> enum_from_name(std::string_view name) {
  const auto& names = EnumNames<E>::names;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<E>(i);
  return std::nullopt;
}

template <typename E>
Error unknown_variant(const JsonReader& r, std::string_view name) {
  return r.error("unknown variant `" + std::string(name) + "`, expected " +
                 expected_one_of(std::span<const std::string_view>(EnumNames<E>::names)));
}

template <typename E>
Json enum_json(E value) {
  return Json(std::string(name_of(value)));
}

// Reads a variant name; anything else is an unknown variant or a type error.
template <typename E>
Result<E> read_enum(JsonReader& r) {
  QL_ASSIGN(std::string name, r.read_string("variant identifier"));
  if (auto v = enum_from_name<E>(name)) return *v;
  return unknown_variant<E>(r, name);
}

}  // namespace quillane
