#include "record/evolution_codec.h"

#include <algorithm>
#include <utility>

namespace quillane {
namespace {

Status check_known(const JsonReader& r, std::string_view name, std::span<const std::string_view> names) {
  if (std::find(names.begin(), names.end(), name) != names.end()) return {};
  return r.error("unknown variant `" + std::string(name) + "`, expected " + expected_one_of(names));
}

}  // namespace

Result<std::string> read_variant_name(JsonReader& r, std::string_view expected,
                                      std::span<const std::string_view> names, std::string_view data_name) {
  // A string is a unit variant; read it on a copy so that anything else is
  // left for the object attempt below.
  JsonReader probe = r;
  if (auto name = probe.read_string(expected); name.ok()) {
    r = probe;
    QL_TRY(check_known(r, *name, names));
    if (*name == data_name) return r.error("variant `" + *name + "` carries data, expected a one-key object");
    return std::move(name).value();
  }
  QL_TRY(r.begin_object(expected));
  JsonReader::Cursor cursor;
  QL_ASSIGN(auto key, r.next_key(cursor));
  if (!key) return r.error("invalid length 0, expected a one-key object");
  QL_TRY(check_known(r, *key, names));
  if (*key != data_name) return r.error("variant `" + *key + "` carries no data, expected a string");
  QL_TRY(r.colon());
  return std::move(*key);
}

Status close_variant(JsonReader& r) {
  JsonReader::Cursor cursor{false};
  QL_ASSIGN(auto key, r.next_key(cursor));
  if (key) return r.error("unexpected key `" + *key + "` after the variant, expected a one-key object");
  return {};
}

Json variant_json(std::string_view name, Json data) {
  JsonObject o;
  o.emplace_back(std::string(name), std::move(data));
  return Json(std::move(o));
}

}  // namespace quillane
