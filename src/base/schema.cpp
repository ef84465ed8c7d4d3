#include "base/schema.h"

namespace quillane {
namespace {

// The ids of the table, computed once.
const std::array<Digest, kSchemaNames.size()>& schema_ids() {
  static const auto ids = [] {
    std::array<Digest, kSchemaNames.size()> out{};
    for (std::size_t i = 0; i < kSchemaNames.size(); ++i) out[i] = schema_id(kSchemaNames[i]);
    return out;
  }();
  return ids;
}

}  // namespace

std::optional<std::size_t> schema_index_for_id(const Digest& id) {
  const auto& ids = schema_ids();
  for (std::size_t i = 0; i < ids.size(); ++i)
    if (ids[i] == id) return i;
  return std::nullopt;
}

std::optional<std::string_view> schema_name_for_id(const Digest& id) {
  auto index = schema_index_for_id(id);
  if (!index) return std::nullopt;
  return kSchemaNames[*index];
}

}  // namespace quillane
