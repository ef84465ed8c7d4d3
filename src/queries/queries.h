// The query index over one log: the records, their positions, the derived
// state and the replay outcome, with the Node annotation every report is
// built from.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/json_value.h"
#include "record/artifact_ref.h"
#include "record/evolution_payloads.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/rules.h"
#include "verify/verifier/prior_index.h"
#include "verify/verifier/replay.h"

namespace quillane {

struct QueryError {
  enum class Case { LogDoesNotVerify, NotFound, RejectedAtCommit, WrongKind };
  Case kind = Case::NotFound;
  std::optional<ReasonCode> reason;  // LogDoesNotVerify
  RecordId id{};                     // NotFound, RejectedAtCommit, WrongKind
  std::string expected;              // WrongKind

  std::string message() const;
};

template <typename T>
using QueryResult = std::variant<T, QueryError>;

struct Node {
  RecordId id{};
  Kind kind = Kind::Request;
  std::string standing;  // "sound", "unsound", "compromised" or "n/a"
  bool tainted = false;
  bool retracted = false;
  std::vector<ArtifactRef> artifacts;
  std::vector<RecordId> requirements;
};
Json node_json(const Node& node);

struct DescentEdge {
  RecordId id{};
  std::string via;  // "parent", "continuation-anchor" or "derivation"
};

struct EvidenceEntry {
  Node node;
  std::string criterion;
  std::string outcome;
};
Json evidence_entry_json(const EvidenceEntry& entry);

class Queries {
 public:
  // Replays the log; fails with LogDoesNotVerify when it does not verify.
  // The records must outlive the queries.
  static QueryResult<Queries> make(std::span<const Record> records, const VerifierRules& rules);
  // Over a log already known to verify, with the state its replay built:
  // the same answers without replaying again.
  static Queries from_verified(std::span<const Record> records, const State& state);

  Node node(const Record& record) const;
  std::vector<DescentEdge> back_edges(const Record& candidate, const CandidateData& data) const;
  std::vector<EvidenceEntry> selection_evidence(std::span<const Ref> refs) const;

  // The record of an id, or null.
  const Record* find(const RecordId& id) const;
  bool accepted(const RecordId& id) const { return state_.accepted(id); }
  // NotFound, then RejectedAtCommit, then WrongKind when `kinds` is given and
  // does not hold the record's kind.
  std::variant<const Record*, QueryError> resolve(const RecordId& id, std::span<const Kind> kinds = {},
                                                  std::string_view expected = "") const;

  std::span<const Record> records() const { return records_; }
  const StandingSection& standing() const { return verdict_.standing; }

 private:
  std::span<const Record> records_;
  PriorIndex index_;
  State state_;
  LogVerdict verdict_;
};

}  // namespace quillane
