#include "record/identity.h"

#include <algorithm>

#include "base/jcs_writer.h"
#include "base/strict_decoders.h"

namespace quillane {
namespace {

Json body_form(const Record& record, bool with_signature) {
  return Json(record_members(record, with_signature ? SignatureForm::OnlyWhenSigned : SignatureForm::Never));
}

}  // namespace

Json canonical_id_form(const Record& record) { return body_form(record, true); }

Json signing_form(const Record& record) {
  JsonObject o;
  o.emplace_back("domain", Json(std::string(kSignatureDomain)));
  o.emplace_back("record", body_form(record, false));
  return Json(std::move(o));
}

Result<RecordId> compute_id(const Record& record) {
  QL_ASSIGN(std::string bytes, canonical_json(canonical_id_form(record)));
  return sha256(bytes);
}

Result<Record> with_computed_id(Record record) {
  QL_ASSIGN(record.id, compute_id(record));
  return record;
}

void sort_and_dedup_refs(std::vector<Ref>& refs) {
  if (refs.size() < 2) return;
  std::sort(refs.begin(), refs.end());
  refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
}

}  // namespace quillane
