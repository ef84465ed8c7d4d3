#include "state/approval_digests.h"

#include "base/enum_names.h"
#include "base/jcs_writer.h"
#include "base/strict_decoders.h"

namespace quillane {
namespace {

Result<Digest> hash_array(JsonArray items) {
  QL_ASSIGN(std::string bytes, canonical_json(Json(std::move(items))));
  return sha256(bytes);
}

}  // namespace

Result<Digest> action_approval_digest(std::string_view author_id, const ActionData& action) {
  return hash_array({Json(std::string(author_id)), action_data_json(action)});
}

Result<Digest> selection_approval_digest(std::string_view author_id, const std::optional<Digest>& replaces,
                                         const SelectionData& selection) {
  return hash_array({Json(std::string(kSelectionApprovalDomain)), Json(std::string(author_id)),
                     optional_json(replaces, digest_json), selection_data_json(selection)});
}

Result<Digest> summary_identity_digest(const SummaryData& summary) {
  return hash_array({enum_json(summary.summary_type), digest_json(summary.subject), digest_json(summary.scope)});
}

}  // namespace quillane
