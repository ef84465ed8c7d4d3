// libFuzzer target: receipt validation on arbitrary bytes. Besides not
// crashing, the report must be self-consistent, and whatever parses must
// re-export to bytes that parse back to the same receipt. A parsed receipt
// is also re-committed as the log writer would (fresh times, ids and
// Verdicts), which lets mutations reach the verifier; replay must then agree
// with every judgement.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <map>

#include "log/writer/subject_builder.h"
#include "receipt/receipt.h"
#include "receipt/validate.h"
#include "verify/verifier/check_record.h"

namespace {

using namespace quillane;

void require(bool condition) {
  if (!condition) __builtin_trap();
}

void check_report(const Report& r) {
  require(r.checked_records <= r.record_count);
  if (r.problem) {
    require(r.status == ValidationStatus::Invalid && !r.reason && r.profiles.empty());
    require(r.record_count == 0 && r.head_hash == Digest{} && r.rules_hash == Digest{});
  }
  if (r.reason) require(r.status == ValidationStatus::Invalid && !r.problem);
  if (r.status == ValidationStatus::Clean) require(r.retracted.empty() && r.tainted.empty());
  if (r.status == ValidationStatus::Invalid) require(r.problem || r.reason);
  const std::string text = report_text(r);
  require(!text.empty() && text.back() == '\n');
}

void check_round_trip(std::string_view bytes) {
  auto parsed = Receipt::from_bytes(bytes);
  if (!parsed) return;
  auto exported = parsed->to_bytes();
  if (!exported) return;  // e.g. an integer beyond the canonical range
  auto again = Receipt::from_bytes(*exported);
  require(again.ok() && *again == *parsed);
  auto exported_again = again->to_bytes();
  require(exported_again.ok() && *exported_again == *exported);
}

// The subjects of `parsed`, committed one by one under the epoch's rules;
// references to earlier subjects follow them to their new ids.
std::optional<Receipt> recommitted(const Receipt& parsed) {
  Receipt out = parsed;
  out.spec_version = std::string(kImplementedEpoch);
  out.profiles.clear();
  out.records.clear();
  out.records.reserve(2 * parsed.records.size());  // the prior index points into it
  const VerifierRules rules = rules_for_epoch(out.rules, out.spec_version);
  PriorIndex prior;
  State state;
  std::map<RecordId, RecordId> renamed;
  for (const Record& original : parsed.records) {
    if (original.kind == Kind::Verdict) continue;
    PendingRecord pending{original.author, original.data, original.refs, original.space,
                          original.thread, original.schema, original.kind};
    pending.author.signature.reset();
    pending.space = rules.space;  // the writer commits in the rules' space only
    for (Ref& ref : pending.refs)
      if (auto it = renamed.find(ref.target); it != renamed.end()) ref.target = it->second;
    auto subject = finish_subject(std::move(pending), out.records.size() + 1, state, prior, nullptr);
    if (!subject) return std::nullopt;
    renamed[original.id] = subject->id;
    const Judgement judgement = check_record(*subject, prior, rules, state);
    auto verdict = materialize_verdict(*subject, subject->time + 1, judgement);
    if (!verdict) return std::nullopt;
    out.records.push_back(std::move(*subject));
    prior.insert(out.records.size() - 1, out.records.back());
    out.records.push_back(std::move(*verdict));
    prior.insert(out.records.size() - 1, out.records.back());
    StatedVerdict stated{judgement.accepted() ? VerdictResult::Accept : VerdictResult::Reject, std::nullopt};
    if (!judgement.accepted()) stated.reason = judgement.reason();
    if (!apply_record(state, out.records[out.records.size() - 2], stated)) return std::nullopt;
    state.applied_up_to = out.records.back().time;
  }
  return out;
}

void check_recommitted(std::string_view bytes) {
  auto parsed = Receipt::from_bytes(bytes);
  if (!parsed) return;
  auto log = recommitted(*parsed);
  if (!log) return;
  auto exported = log->to_bytes();
  if (!exported) return;
  static const std::vector<std::string> requested = {"quillane-core-v1"};
  const Report r = validate_with_profiles(*exported, ValidationLimits{}, requested);
  check_report(r);
  // What the writer judged, the replay re-derives.
  require(!r.problem && r.status != ValidationStatus::Invalid);
  require(r.checked_records == log->records.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  static const std::vector<std::string> requested = {"quillane-core-v1", "", "quillane-core-v1"};
  // Small limits so that the limit checks are reached too.
  const Report small = validate_with_limits(bytes, ValidationLimits{1 << 20, 64, 4096, 16});
  check_report(small);
  const Report full = validate_with_profiles(bytes, ValidationLimits{}, requested);
  check_report(full);
  if (!full.problem) require(full.profiles.size() >= 2);
  check_round_trip(bytes);
  check_recommitted(bytes);
  return 0;
}
