#include "verify/verifier/replay.h"

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "record/evolution_payloads.h"
#include "record/identity.h"
#include "verify/verifier/check_record.h"

namespace quillane {
namespace {

const Digest& verdict_schema() {
  static const Digest id = schema_id("quillane.verdict.v1");
  return id;
}

bool verdict_payload_canonical(const Record& verdict) {
  auto data = decode_verdict_data(verdict.payload_json());
  if (!data) return false;
  auto encoded = canonical_json(verdict_data_json(*data));
  return encoded && *encoded == verdict.payload_json();
}

LogVerdict invalid(std::uint64_t checked, std::uint64_t last_time, ReasonCode reason) {
  LogVerdict v;
  v.checked = checked;
  v.last_time = last_time;
  v.reason = reason;
  v.invalid = true;
  return v;
}

// Time runs 1, 2, 3, ... and every stored id is the computed one.
bool preliminary_checks_pass(std::span<const Record> records) {
  for (std::size_t i = 0; i < records.size(); ++i)
    if (records[i].time != i + 1) return false;
  for (const Record& record : records) {
    auto id = compute_id(record);
    if (!id || *id != record.id) return false;
  }
  return true;
}

}  // namespace

Judgement check_verdict_record(const Record& verdict, const Prior& prior, const VerifierRules& rules) {
  auto id = compute_id(verdict);
  if (!id || *id != verdict.id) return ReasonCode::InvalidPayload;
  if (verdict.schema != verdict_schema()) return ReasonCode::KindSchemaMismatch;
  if (verdict.author.type != AuthorType::Verifier || verdict.author.signature || verdict.space != rules.space ||
      verdict.evidence != Evidence::Deterministic || !verdict_payload_canonical(verdict) || verdict.refs.size() != 1 ||
      verdict.refs[0].type != RefType::Cause)
    return ReasonCode::InvalidPayload;
  const Record* subject = prior.find(verdict.refs[0].target);
  if (!subject) return ReasonCode::RefUnresolved;
  if (subject->kind == Kind::Verdict || subject->space != verdict.space || subject->thread != verdict.thread ||
      prior.judged(subject->id))
    return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

ReplayOutcome replay_log(std::span<const Record> records, const VerifierRules& rules) {
  const std::uint64_t last_time = records.empty() ? 0 : records.back().time;
  ReplayOutcome out;
  if (!preliminary_checks_pass(records)) {
    out.verdict = invalid(0, last_time, ReasonCode::InvalidPayload);
    return out;
  }
  State& state = out.state;
  PriorIndex prior;
  prior.reserve(records.size());
  std::uint64_t checked = 0;
  for (std::size_t i = 0; i < records.size(); i += 2) {
    const Record& subject = records[i];
    if (subject.kind == Kind::Verdict) {
      // A Verdict with no subject of its own: every earlier subject is
      // already judged, so this fails.
      const Judgement j = check_verdict_record(subject, prior, rules);
      out.verdict = invalid(checked, last_time, j.accepted() ? ReasonCode::InvalidPayload : j.reason());
      return out;
    }
    if (i + 1 >= records.size() || records[i + 1].kind != Kind::Verdict) {
      out.verdict = invalid(checked, last_time, ReasonCode::InvalidPayload);
      return out;
    }
    const Record& verdict = records[i + 1];
    prior.insert(i, subject);
    if (const Judgement j = check_verdict_record(verdict, prior, rules); !j.accepted()) {
      out.verdict = invalid(checked, last_time, j.reason());
      return out;
    }
    if (verdict.refs[0].target != subject.id) {
      out.verdict = invalid(checked, last_time, ReasonCode::InvalidPayload);
      return out;
    }
    const Judgement derived = check_record_with_known_id(subject, prior, rules, state, true);
    auto stated = decode_verdict_data(verdict.payload_json());
    if (!stated) {
      out.verdict = invalid(checked, last_time, ReasonCode::InvalidPayload);
      return out;
    }
    const bool stated_accept = stated->result == VerdictResult::Accept;
    std::optional<ReasonCode> violation;
    if (derived.accepted() && !stated_accept) violation = ReasonCode::InvalidPayload;
    else if (!derived.accepted() && stated_accept) violation = derived.reason();
    else if (derived.accepted() && stated->reason) violation = ReasonCode::InvalidPayload;
    else if (!derived.accepted() && stated->reason != derived.reason()) violation = derived.reason();
    if (violation) {
      out.verdict = invalid(checked, last_time, *violation);
      return out;
    }
    if (!apply_record(state, subject, StatedVerdict{stated->result, stated->reason})) {
      out.verdict = invalid(checked, last_time, ReasonCode::InvalidPayload);
      return out;
    }
    state.applied_up_to = verdict.time;
    prior.insert(i + 1, verdict);
    checked += 2;
  }
  out.verdict.checked = checked;
  out.verdict.last_time = last_time;
  out.verdict.retracted = state.retracted_records;
  out.verdict.tainted = state.tainted_records;
  out.verdict.standing = derive_standing(records, state);
  return out;
}

LogVerdict verify_log(std::span<const Record> records, const VerifierRules& rules) {
  return replay_log(records, rules).verdict;
}

std::variant<State, LogVerdict> verify_and_build_state(std::span<const Record> records, const VerifierRules& rules) {
  // A valid replay has applied every accepted subject exactly as a plain
  // rebuild would, so its state is the log's state.
  ReplayOutcome outcome = replay_log(records, rules);
  if (outcome.verdict.invalid) return outcome.verdict;
  return std::move(outcome.state);
}

}  // namespace quillane
