#include "base/json_value.h"

namespace quillane {

const Json* Json::find(std::string_view key) const {
  for (const auto& [k, v] : as_object())
    if (k == key) return &v;
  return nullptr;
}

namespace {

bool bytes_equal_array(const JsonBytes& bytes, const JsonArray& array) {
  if (bytes.size() != array.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const Json& e = array[i];
    if (e.type() != Json::Type::UInt || e.as_uint() != bytes[i]) return false;
  }
  return true;
}

}  // namespace

bool operator==(const Json& a, const Json& b) {
  using T = Json::Type;
  if (a.type() == T::Bytes && b.type() == T::Array) return bytes_equal_array(a.as_bytes(), b.as_array());
  if (a.type() == T::Array && b.type() == T::Bytes) return bytes_equal_array(b.as_bytes(), a.as_array());
  return a.v_ == b.v_;
}

}  // namespace quillane
