// Times LogWriter commits on logs of 1k, 10k and 50k records, on an
// in-memory file system whose flushes do nothing and on the real file
// system under /tmp with real flushes. Prints the median per commit.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <variant>
#include <vector>

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "log/storage/frames.h"
#include "log/writer/log_writer.h"
#include "memory_file_system.h"
#include "record/evolution_payloads.h"
#include "verify/verifier/check_record.h"
#include "verify/verifier/replay.h"

namespace quillane::bench {
namespace {

using Clock = std::chrono::steady_clock;

const Digest kSpace = sha256_utf8("bench space");

VerifierRules bench_rules() {
  VerifierRules rules = VerifierRules::make(kSpace, 200).with_baseline_thresholds();
  rules.author_roles = {{"user", AuthorType::User}, {"provider", AuthorType::Provider}};
  return rules;
}

PendingRecord make_pending(std::string_view schema_name, Kind kind, std::string author, AuthorType type,
                           const Json& payload, std::vector<Ref> refs) {
  PendingRecord p;
  p.author = Author{std::move(author), type, std::nullopt};
  const std::string bytes = *canonical_json(payload);
  p.data.assign(bytes.begin(), bytes.end());
  p.refs = std::move(refs);
  p.space = p.thread = kSpace;
  p.schema = schema_id(schema_name);
  p.kind = kind;
  return p;
}

PendingRecord request(std::size_t k) {
  RequestData r;
  r.objective = "objective " + std::to_string(k);
  r.scope = Digest{};
  return make_pending("quillane.request.v1", Kind::Request, "user", AuthorType::User, request_data_json(r), {});
}

PendingRecord candidate(const RecordId& request_id) {
  CandidateData c;
  c.source.git.algo = SourceAlgo::Sha1;
  c.source.git.tree = std::string(40, 'a');
  c.source.binding = BindingMode::Reported;
  c.basis = CandidateBasis::Root;
  return make_pending("quillane.candidate.v1", Kind::Candidate, "provider", AuthorType::Provider,
                      candidate_data_json(c), {Ref{RefType::Cause, request_id}});
}

// The frames of a valid log of `n` records (requests, each followed by a
// candidate under it), built the way the writer commits, without a file.
std::string build_log(std::size_t n, const VerifierRules& rules) {
  std::vector<Record> records;
  records.reserve(n);
  PriorIndex prior;
  State state;
  RecordId last_request{};
  for (std::size_t k = 0; records.size() < n; ++k) {
    PendingRecord p = k % 2 == 0 ? request(k) : candidate(last_request);
    Record subject = *finish_subject(std::move(p), records.size() + 1, state, prior, nullptr);
    const Judgement j = check_record(subject, prior, rules, state);
    Record verdict = *materialize_verdict(subject, subject.time + 1, j);
    if (k % 2 == 0) last_request = subject.id;
    records.push_back(std::move(subject));
    prior.insert(records.size() - 1, records.back());
    records.push_back(std::move(verdict));
    prior.insert(records.size() - 1, records.back());
    StatedVerdict stated{VerdictResult::Accept, std::nullopt};
    if (!j.accepted()) stated = {VerdictResult::Reject, j.reason()};
    (void)apply_record(state, records[records.size() - 2], stated);
    state.applied_up_to = records.back().time;
  }
  std::string bytes;
  for (const Record& r : records) bytes += frame_of(*encode_frame_body(r));
  return bytes;
}

double median_us(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

struct Timing {
  double open_ms = 0;
  double commit_us = 0;
  double state_compare_us = 0;
};

Timing time_commits(const std::filesystem::path& dir, FileSystem& fs, const VerifierRules& rules, int commits) {
  Timing t;
  const auto opened_at = Clock::now();
  auto writer = LogWriter::open(dir, rules, fs);
  if (!writer) {
    std::fprintf(stderr, "open failed: %s\n", writer.error().message().c_str());
    std::exit(1);
  }
  auto built = verify_and_build_state(writer->records(), rules);
  State state = std::get<State>(std::move(built));
  t.open_ms = std::chrono::duration<double, std::milli>(Clock::now() - opened_at).count();

  std::vector<double> samples;
  for (int k = 0; k < commits; ++k) {
    PendingRecord p = request(1000000 + static_cast<std::size_t>(k));
    const auto start = Clock::now();
    auto outcome = writer->commit(std::move(p), rules, state);
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (!outcome) {
      std::fprintf(stderr, "commit failed: %s\n", outcome.error().message().c_str());
      std::exit(1);
    }
  }
  t.commit_us = median_us(samples);

  // The one part of a commit that grows with the log: comparing the
  // caller's state with the writer's.
  const State copy = state;
  std::vector<double> compares;
  for (int k = 0; k < 51; ++k) {
    const auto start = Clock::now();
    const bool same = copy == state;
    compares.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (!same) std::exit(1);
  }
  t.state_compare_us = median_us(compares);
  return t;
}

}  // namespace
}  // namespace quillane::bench

int main() {
  using namespace quillane;
  using namespace quillane::bench;
  const VerifierRules rules = bench_rules();
  std::printf("%-8s %-14s %10s %16s %18s\n", "records", "file system", "open ms", "commit median us",
              "state compare us");
  for (std::size_t n : {1000u, 10000u, 50000u}) {
    const std::string bytes = build_log(n, rules);
    {
      MemoryFileSystem fs;
      fs.put("/bench/records.log", bytes);
      const Timing t = time_commits("/bench", fs, rules, 501);
      std::printf("%-8zu %-14s %10.1f %16.1f %18.1f\n", n, "memory", t.open_ms, t.commit_us, t.state_compare_us);
    }
    {
      std::string pattern = (std::filesystem::temp_directory_path() / "quillane-bench-XXXXXX").string();
      if (::mkdtemp(pattern.data()) == nullptr) return 1;
      const std::filesystem::path dir = pattern;
      std::ofstream(dir / "records.log", std::ios::binary) << bytes;
      const Timing t = time_commits(dir, posix_file_system(), rules, 51);
      std::printf("%-8zu %-14s %10.1f %16.1f %18.1f\n", n, "posix /tmp", t.open_ms, t.commit_us, t.state_compare_us);
      std::filesystem::remove_all(dir);
    }
  }
  return 0;
}
