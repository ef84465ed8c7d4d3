// In-memory JSON value tree with the number model of the canonical form:
// non-negative integers are unsigned 64-bit, negative integers signed 64-bit,
// everything else a 64-bit float. Objects keep their members in insertion
// order; the canonical writer sorts them, the plain writer does not.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quillane {

class Json;
using JsonArray = std::vector<Json>;
using JsonObject = std::vector<std::pair<std::string, Json>>;
// A byte string: written as an array of integers 0 to 255, stored compactly.
using JsonBytes = std::vector<std::uint8_t>;

class Json {
 public:
  enum class Type { Null, Bool, UInt, Int, Float, String, Array, Object, Bytes };

  Json() = default;
  Json(std::nullptr_t) {}
  Json(bool b) : v_(b) {}
  Json(std::uint64_t n) : v_(n) {}
  Json(std::uint32_t n) : v_(std::uint64_t{n}) {}
  // Negative values take the signed representation, others the unsigned one.
  Json(std::int64_t n) {
    if (n < 0) v_ = n; else v_ = static_cast<std::uint64_t>(n);
  }
  Json(int n) : Json(std::int64_t{n}) {}
  Json(double x) : v_(x) {}
  Json(std::string s) : v_(std::move(s)) {}
  Json(const char* s) : v_(std::string(s)) {}
  Json(JsonArray a) : v_(std::move(a)) {}
  Json(JsonObject o) : v_(std::move(o)) {}
  Json(JsonBytes b) : v_(std::move(b)) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool is_null() const { return type() == Type::Null; }

  bool as_bool() const { return std::get<bool>(v_); }
  std::uint64_t as_uint() const { return std::get<std::uint64_t>(v_); }
  std::int64_t as_int() const { return std::get<std::int64_t>(v_); }
  double as_float() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  const JsonArray& as_array() const { return std::get<JsonArray>(v_); }
  JsonArray& as_array() { return std::get<JsonArray>(v_); }
  const JsonObject& as_object() const { return std::get<JsonObject>(v_); }
  JsonObject& as_object() { return std::get<JsonObject>(v_); }
  const JsonBytes& as_bytes() const { return std::get<JsonBytes>(v_); }

  // Member lookup in an object; nullptr when absent.
  const Json* find(std::string_view key) const;

  // Structural equality; a Bytes node equals the array of the same integers.
  friend bool operator==(const Json& a, const Json& b);

 private:
  std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double,
               std::string, JsonArray, JsonObject, JsonBytes>
      v_;
};

}  // namespace quillane
