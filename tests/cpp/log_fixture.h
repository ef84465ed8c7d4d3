// A small in-memory log for verifier tests: commits records the way the log
// writer does (finished subject, judgement, Verdict, state update).
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "log/writer/subject_builder.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/rules.h"
#include "verify/verifier/check_record.h"
#include "verify/verifier/prior_index.h"

namespace quillane::test {

inline const Digest& test_space() {
  static const Digest space = sha256_utf8("test space");
  return space;
}

// Starter rules with one actor of each role: user, provider, system, executor.
inline VerifierRules test_rules() {
  VerifierRules rules = VerifierRules::make(test_space(), 200).with_baseline_thresholds();
  rules.author_roles = {{"user", AuthorType::User},
                        {"provider", AuthorType::Provider},
                        {"system", AuthorType::System},
                        {"executor", AuthorType::Executor}};
  return rules;
}

// The actor that normally writes each kind in these tests.
inline std::string default_author(Kind kind) {
  switch (kind) {
    case Kind::Request:
    case Kind::Approval:
    case Kind::Capability:
    case Kind::Refusal:
    case Kind::Retraction:
    case Kind::Requirement: return "user";
    case Kind::Result:
    case Kind::Evaluation: return "executor";
    default: return "provider";
  }
}

inline Bytes canonical_bytes(const Json& payload) {
  auto text = canonical_json(payload);
  EXPECT_TRUE(text.ok()) << (text.ok() ? "" : text.error().message);
  return text.ok() ? Bytes(text->begin(), text->end()) : Bytes{};
}

class LogBuilder {
 public:
  explicit LogBuilder(VerifierRules r = test_rules()) : rules(std::move(r)) {}

  struct Commit {
    RecordId id{};
    Judgement judgement;
  };

  // A pending record of the schema's kind (looked up in the rules), written
  // by `author` (default: the usual actor of that kind) with the author's
  // bound role.
  PendingRecord pending(std::string_view schema_name, const Json& payload, std::vector<Ref> refs = {},
                        std::string author = "") const {
    PendingRecord p;
    const Digest schema = schema_id(schema_name);
    auto kind = rules.kind_schema_map.find(schema);
    p.kind = kind == rules.kind_schema_map.end() ? Kind::Request : kind->second;
    if (author.empty()) author = default_author(p.kind);
    auto role = rules.author_roles.find(author);
    p.author = Author{author, role == rules.author_roles.end() ? AuthorType::User : role->second, std::nullopt};
    p.data = canonical_bytes(payload);
    p.refs = std::move(refs);
    p.space = test_space();
    p.thread = test_space();
    p.schema = schema;
    return p;
  }

  Record finish(PendingRecord p, const Ed25519Signer* signer = nullptr) const {
    auto subject = finish_subject(std::move(p), next_time(), state_, prior_, signer);
    EXPECT_TRUE(subject.ok()) << (subject.ok() ? "" : subject.error().message);
    return subject.ok() ? *subject : Record{};
  }

  Judgement judge(const Record& subject) const { return check_record(subject, prior_, rules, state_); }

  // Judges and appends a finished subject with its Verdict.
  Commit append(const Record& subject) {
    const Judgement j = judge(subject);
    auto verdict = materialize_verdict(subject, subject.time + 1, j);
    EXPECT_TRUE(verdict.ok());
    log_.push_back(subject);
    prior_.insert(log_.size() - 1, log_.back());
    log_.push_back(*verdict);
    prior_.insert(log_.size() - 1, log_.back());
    StatedVerdict stated{j.accepted() ? VerdictResult::Accept : VerdictResult::Reject, std::nullopt};
    if (!j.accepted()) stated.reason = j.reason();
    EXPECT_TRUE(apply_record(state_, log_[log_.size() - 2], stated).ok());
    state_.applied_up_to = verdict->time;
    return Commit{subject.id, j};
  }

  Commit commit(PendingRecord p, const Ed25519Signer* signer = nullptr) { return append(finish(std::move(p), signer)); }

  Commit commit(std::string_view schema_name, const Json& payload, std::vector<Ref> refs = {},
                std::string author = "") {
    return commit(pending(schema_name, payload, std::move(refs), std::move(author)));
  }

  // Commits and expects acceptance; returns the id.
  RecordId accepted(std::string_view schema_name, const Json& payload, std::vector<Ref> refs = {},
                    std::string author = "") {
    const Commit c = commit(schema_name, payload, std::move(refs), std::move(author));
    EXPECT_TRUE(c.judgement.accepted()) << schema_name << " rejected: " << name_of(c.judgement.reason());
    return c.id;
  }

  std::uint64_t next_time() const { return log_.size() + 1; }
  std::vector<Record> records() const { return {log_.begin(), log_.end()}; }
  const State& state() const { return state_; }
  const Record& record(const RecordId& id) const { return *prior_.find(id); }

  VerifierRules rules;

 private:
  std::deque<Record> log_;
  PriorIndex prior_;
  State state_;
};

// The name of a judgement, for readable assertions.
inline std::string judgement_name(Judgement j) {
  return j.accepted() ? "Accept" : std::string(name_of(j.reason()));
}

}  // namespace quillane::test
