#include "record/identity.h"

#include <algorithm>

#include "base/jcs_writer.h"
#include "base/strict_decoders.h"

namespace quillane {
namespace {

Json body_form(const Record& record, bool with_signature) {
  JsonObject author;
  author.emplace_back("id", Json(record.author.id));
  author.emplace_back("type", enum_json(record.author.type));
  if (with_signature && record.author.signature)
    author.emplace_back("signature", signature_json(*record.author.signature));
  JsonObject o;
  o.reserve(9);
  o.emplace_back("space", digest_json(record.space));
  o.emplace_back("thread", digest_json(record.thread));
  o.emplace_back("time", Json(record.time));
  o.emplace_back("author", Json(std::move(author)));
  o.emplace_back("kind", enum_json(record.kind));
  o.emplace_back("schema", digest_json(record.schema));
  o.emplace_back("data", bytes_json(record.data));
  o.emplace_back("refs", list_json(record.refs, ref_json));
  o.emplace_back("evidence", enum_json(record.evidence));
  return Json(std::move(o));
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
