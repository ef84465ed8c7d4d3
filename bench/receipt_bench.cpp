// Times receipt export and validation of logs of 10k and 100k records
// (request, candidate, evaluation and selection lines, one retraction), with
// the parse, replay and profile phases separately. Also times a chain of
// reaffirming selections, whose standing grows with the chain's square.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "log/writer/subject_builder.h"
#include "profiles/registry.h"
#include "receipt/receipt.h"
#include "receipt/validate.h"
#include "record/evolution_payloads.h"
#include "verify/verifier/check_record.h"
#include "verify/verifier/replay.h"

namespace quillane::bench {
namespace {

using Clock = std::chrono::steady_clock;

const Digest kSpace = sha256_utf8("receipt bench space");

VerifierRules bench_rules() {
  VerifierRules rules = VerifierRules::make(kSpace, 200).with_baseline_thresholds();
  rules.author_roles = {{"user", AuthorType::User}, {"provider", AuthorType::Provider}};
  return rules;
}

// Commits subjects the way the log writer does, in memory.
class Log {
 public:
  explicit Log(VerifierRules rules) : rules_(std::move(rules)) {}

  RecordId commit(std::string_view schema_name, std::string author, AuthorType type, const Json& payload,
                  std::vector<Ref> refs) {
    PendingRecord p;
    p.author = Author{std::move(author), type, std::nullopt};
    const std::string bytes = *canonical_json(payload);
    p.data.assign(bytes.begin(), bytes.end());
    p.refs = std::move(refs);
    p.space = p.thread = kSpace;
    p.schema = schema_id(schema_name);
    p.kind = rules_.kind_schema_map.at(p.schema);
    auto subject = finish_subject(std::move(p), records_.size() + 1, state_, prior_, nullptr);
    const Judgement j = check_record(*subject, prior_, rules_, state_);
    if (!j.accepted()) std::fprintf(stderr, "rejected %s: %s\n", std::string(schema_name).c_str(), std::string(name_of(j.reason())).c_str());
    auto verdict = materialize_verdict(*subject, subject->time + 1, j);
    records_.push_back(std::move(*subject));
    prior_.insert(records_.size() - 1, records_.back());
    records_.push_back(std::move(*verdict));
    prior_.insert(records_.size() - 1, records_.back());
    StatedVerdict stated{j.accepted() ? VerdictResult::Accept : VerdictResult::Reject, std::nullopt};
    if (!j.accepted()) stated.reason = j.reason();
    (void)apply_record(state_, records_[records_.size() - 2], stated);
    state_.applied_up_to = records_.back().time;
    return records_[records_.size() - 2].id;
  }

  std::size_t size() const { return records_.size(); }
  Receipt receipt() const { return Receipt::make(std::vector<Record>(records_.begin(), records_.end()), rules_); }

 private:
  VerifierRules rules_;
  std::deque<Record> records_;
  PriorIndex prior_;
  State state_;
};

Json request(std::size_t n) {
  RequestData r;
  r.objective = "objective " + std::to_string(n);
  return request_data_json(r);
}

Json candidate(CandidateBasis basis, std::optional<Digest> parent = std::nullopt) {
  CandidateData c;
  c.source.git.tree = std::string(40, 'a');
  c.basis = basis;
  c.parent = parent;
  return candidate_data_json(c);
}

Json evaluation(const Digest& candidate) {
  EvaluationData e;
  e.candidate = candidate;
  e.criterion = "tests";
  e.outcome = PlainOutcome::Passed;
  return evaluation_data_json(e);
}

Json selection(const Digest& chosen, const std::string& objective = "pick") {
  SelectionData s;
  s.objective = objective;
  s.considered = {chosen};
  s.outcome.selected = std::vector<Digest>{chosen};
  return selection_data_json(s);
}

Ref ref(RefType type, const Digest& target) { return Ref{type, target}; }

// Lines of request, candidate, evaluation, selection and a continuation
// until `records` records; one retraction near the start taints one line.
Receipt evolution_log(std::size_t records) {
  Log log(bench_rules());
  RecordId first_eval{};
  for (std::size_t n = 0; log.size() + 10 <= records; ++n) {
    const RecordId req = log.commit("quillane.request.v1", "user", AuthorType::User, request(n), {});
    const RecordId cand = log.commit("quillane.candidate.v1", "provider", AuthorType::Provider,
                                     candidate(CandidateBasis::Root), {ref(RefType::Cause, req)});
    const RecordId eval = log.commit("quillane.evaluation.v1", "provider", AuthorType::Provider, evaluation(cand),
                                     {ref(RefType::Use, cand)});
    const RecordId sel = log.commit("quillane.selection.v1", "provider", AuthorType::Provider, selection(cand),
                                    {ref(RefType::Use, eval), ref(RefType::Require, cand)});
    log.commit("quillane.candidate.v1", "provider", AuthorType::Provider,
               candidate(CandidateBasis::Continuation, cand), {ref(RefType::Cause, sel)});
    if (n == 0) first_eval = eval;
    if (n == 1) {
      RetractionData r{first_eval, "wrong"};
      log.commit("quillane.retraction.v1", "provider", AuthorType::Provider, retraction_data_json(r),
                 {ref(RefType::Cause, first_eval)});
    }
  }
  return log.receipt();
}

// A selection and `length` reaffirmations, each replacing the previous one.
Receipt reaffirmation_chain(std::size_t length) {
  Log log(bench_rules());
  const RecordId req = log.commit("quillane.request.v1", "user", AuthorType::User, request(0), {});
  const RecordId cand = log.commit("quillane.candidate.v1", "provider", AuthorType::Provider,
                                   candidate(CandidateBasis::Root), {ref(RefType::Cause, req)});
  const RecordId eval = log.commit("quillane.evaluation.v1", "provider", AuthorType::Provider, evaluation(cand),
                                   {ref(RefType::Use, cand)});
  RecordId sel = log.commit("quillane.selection.v1", "provider", AuthorType::Provider, selection(cand),
                            {ref(RefType::Use, eval), ref(RefType::Require, cand)});
  for (std::size_t i = 0; i < length; ++i)
    sel = log.commit("quillane.selection.v1", "provider", AuthorType::Provider, selection(cand),
                     {ref(RefType::Use, eval), ref(RefType::Require, cand), ref(RefType::Replace, sel)});
  return log.receipt();
}

// Median of `runs` timings of `f`, in milliseconds.
double median_ms(int runs, const std::function<void()>& f) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void bench_validation(const char* name, const Receipt& receipt, int runs) {
  const std::string bytes = *receipt.to_bytes();
  const double export_ms = median_ms(runs, [&] { (void)receipt.to_bytes(); });
  const double parse_ms = median_ms(runs, [&] { (void)Receipt::from_bytes(bytes); });
  const VerifierRules rules = rules_for_epoch(receipt.rules, receipt.spec_version);
  const double replay_ms = median_ms(runs, [&] { (void)verify_log(receipt.records, rules); });
  // The standard limits, except that a log larger than the receipt size
  // limit is still measured.
  ValidationLimits limits;
  limits.max_receipt_bytes = std::max<std::uint64_t>(limits.max_receipt_bytes, bytes.size());
  Report report;
  const double validate_ms = median_ms(runs, [&] { report = validate_with_limits(bytes, limits); });
  const std::vector<std::string> core = {"quillane-core-v1"};
  const double profile_ms = median_ms(runs, [&] { (void)evaluate_profiles(receipt, report, core); });
  std::printf("%-28s %8zu records %7.1f MiB  export %8.1f ms  parse %8.1f ms  replay %8.1f ms  "
              "core profile %7.1f ms  validate %8.1f ms (%s, %.2f us/record)\n",
              name, receipt.records.size(), bytes.size() / 1048576.0, export_ms, parse_ms, replay_ms, profile_ms,
              validate_ms, std::string(validation_status_name(report.status)).c_str(),
              1000.0 * validate_ms / static_cast<double>(std::max<std::size_t>(1, receipt.records.size())));
}

}  // namespace
}  // namespace quillane::bench

int main() {
  using namespace quillane::bench;
  bench_validation("evolution log 10k", evolution_log(10'000), 5);
  bench_validation("evolution log 100k", evolution_log(100'000), 3);
  for (std::size_t length : {250, 500, 1'000, 2'000})
    bench_validation(("reaffirmation chain " + std::to_string(length)).c_str(), reaffirmation_chain(length), 1);
  return 0;
}
