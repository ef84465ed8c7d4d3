#include "receipt/validate.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "base/quoted.h"
#include "base/schema.h"
#include "profiles/registry.h"
#include "receipt/receipt.h"
#include "verify/verifier/replay.h"

namespace quillane {
namespace {

constexpr std::array<std::string_view, 2> kValidatedEpochs = {"0.3", kImplementedEpoch};

// "0.3" admits the first 17 schema names of the table, "0.4" all 20.
constexpr std::size_t kEpoch03SchemaCount = 17;
static_assert(kSchemaNames[kEpoch03SchemaCount - 1] == "quillane.selection.v1");
static_assert(kSchemaNames[kEpoch03SchemaCount] == "quillane.requirement.v1");

std::span<const std::string_view> admitted_schema_names(std::string_view epoch) {
  if (epoch == "0.4") return kSchemaNames;
  if (epoch == "0.3") return std::span(kSchemaNames).first(kEpoch03SchemaCount);
  return {};
}

std::string joined_epochs() {
  std::string out;
  for (std::string_view e : kValidatedEpochs) {
    if (!out.empty()) out += ", ";
    out.append(e);
  }
  return out;
}

Report problem_report(std::string problem, std::string spec_version = {}) {
  Report report;
  report.status = ValidationStatus::Invalid;
  report.problem = std::move(problem);
  report.spec_version = std::move(spec_version);
  return report;
}

// The checks that are cheap and need no hashing: counts and sizes.
std::optional<std::string> limit_problem(const Receipt& receipt, const ValidationLimits& limits) {
  const std::uint64_t count = receipt.records.size();
  if (count > limits.max_records)
    return "receipt exceeds record limit (" + std::to_string(count) + " > " + std::to_string(limits.max_records) +
           ")";
  for (std::size_t i = 0; i < receipt.records.size(); ++i) {
    const Record& record = receipt.records[i];
    if (record.data.size() > limits.max_payload_bytes)
      return "record " + std::to_string(i) + " exceeds payload size limit";
    if (record.refs.size() > limits.max_refs) return "record " + std::to_string(i) + " exceeds ref-count limit";
  }
  return std::nullopt;
}

std::optional<std::string> declaration_problem(const Receipt& receipt) {
  if (receipt.profiles.empty()) return std::nullopt;
  if (receipt.spec_version == "0.3")
    return "profile declarations require spec " + std::string(kImplementedEpoch) + " or later (receipt declares " +
           quoted_form(receipt.spec_version) + ")";
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < receipt.profiles.size(); ++i) {
    const std::string& id = receipt.profiles[i].id;
    if (id.empty()) return "profile declaration " + std::to_string(i) + " has an empty id";
    if (!seen.insert(id).second) return "profile " + quoted_form(id) + " is declared more than once";
  }
  return std::nullopt;
}

// Every step up to the status. On success (no problem) `receipt` holds the
// parsed receipt and the report has no profile results yet.
Report validate_receipt(std::string_view bytes, const ValidationLimits& limits, Receipt& receipt) {
  if (bytes.size() > limits.max_receipt_bytes)
    return problem_report("receipt exceeds size limit (" + std::to_string(bytes.size()) + " > " +
                          std::to_string(limits.max_receipt_bytes) + " bytes)");
  auto parsed = Receipt::from_bytes(bytes);
  if (!parsed) return problem_report("unparseable receipt: " + parsed.error().message);
  receipt = std::move(parsed).value();
  const std::string& spec = receipt.spec_version;

  if (auto problem = limit_problem(receipt, limits)) return problem_report(std::move(*problem), spec);
  if (std::find(kValidatedEpochs.begin(), kValidatedEpochs.end(), spec) == kValidatedEpochs.end())
    return problem_report("unsupported spec version " + quoted_form(spec) + " (this validator implements " +
                              quoted_form(kImplementedEpoch) + " and validates " + joined_epochs() + ")",
                          spec);
  const VerifierRules epoch_rules = rules_for_epoch(receipt.rules, spec);
  if (auto problem = declaration_problem(receipt)) return problem_report(std::move(*problem), spec);
  auto rules_digest = rules_hash(receipt.rules);
  if (!rules_digest) return problem_report("rules do not canonicalize: " + rules_digest.error().message, spec);

  Report report;
  report.spec_version = spec;
  report.record_count = receipt.records.size();
  report.rules_hash = *rules_digest;
  Sha256Stream head;
  for (const Record& record : receipt.records) head.update(record.id.data(), record.id.size());
  report.head_hash = head.finish();

  LogVerdict verdict = verify_log(receipt.records, epoch_rules);
  report.checked_records = verdict.checked;
  report.last_time = verdict.last_time;
  report.retracted = std::move(verdict.retracted);
  report.tainted = std::move(verdict.tainted);
  report.standing = std::move(verdict.standing);
  report.reason = verdict.reason;
  if (verdict.invalid)
    report.status = ValidationStatus::Invalid;
  else if (!report.retracted.empty() || !report.tainted.empty())
    report.status = ValidationStatus::Tainted;
  else
    report.status = ValidationStatus::Clean;
  return report;
}

}  // namespace

VerifierRules rules_for_epoch(const VerifierRules& rules, std::string_view spec_version) {
  const auto names = admitted_schema_names(spec_version);
  VerifierRules out = rules;
  std::erase_if(out.kind_schema_map, [&](const auto& entry) {
    const auto name = schema_name_for_id(entry.first);
    return !name || std::find(names.begin(), names.end(), *name) == names.end();
  });
  return out;
}

Report validate_with_limits(std::string_view bytes, const ValidationLimits& limits) {
  return validate_with_profiles(bytes, limits, {});
}

Report validate_with_profiles(std::string_view bytes, const ValidationLimits& limits,
                              std::span<const std::string> requested) {
  Receipt receipt;
  Report report = validate_receipt(bytes, limits, receipt);
  if (!report.problem) report.profiles = evaluate_profiles(receipt, report, requested);
  return report;
}

}  // namespace quillane
