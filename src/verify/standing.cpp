#include "verify/standing.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "record/evolution_payloads.h"

namespace quillane {
namespace {

struct CandInfo {
  std::vector<RecordId> causes;
  std::optional<RecordId> parent;
  CandidateBasis basis = CandidateBasis::Root;
  // Descent memo: Unvisited until first reached, Pending while the
  // Candidates it depends on are being decided.
  enum class Mark : std::uint8_t { Unvisited, Pending, Decided } mark = Mark::Unvisited;
  bool sound = false;
};

struct SelInfo {
  std::set<RecordId> chosen;
  std::optional<RecordId> reaffirms;
};

struct Tables {
  std::map<RecordId, CandInfo> candidates;
  std::map<RecordId, SelInfo> selections;
};

std::optional<RecordId> first_target(const Record& record, RefType type) {
  for (const Ref& ref : record.refs)
    if (ref.type == type) return ref.target;
  return std::nullopt;
}

Tables build_tables(std::span<const Record> records, const State& state) {
  Tables t;
  for (const Record& record : records) {
    if (record.kind == Kind::Candidate && state.accepted(record.id)) {
      auto data = decode_candidate_data(record.payload_json());
      if (!data) continue;
      CandInfo info;
      for (const Ref& ref : record.refs)
        if (ref.type == RefType::Cause) info.causes.push_back(ref.target);
      info.parent = data->parent;
      info.basis = data->basis;
      t.candidates.insert_or_assign(record.id, std::move(info));
    } else if (record.kind == Kind::Selection && state.accepted(record.id)) {
      auto data = decode_selection_data(record.payload_json());
      if (!data) continue;
      SelInfo info;
      if (data->outcome.selected) info.chosen.insert(data->outcome.selected->begin(), data->outcome.selected->end());
      info.reaffirms = first_target(record, RefType::Replace);
      t.selections.insert_or_assign(record.id, std::move(info));
    }
  }
  return t;
}

// Every clean reaffirmation restores each Selection up its chain of
// reaffirmations. Only the restorers of unsound Selections are ever read,
// so they are found downwards: the clean Selections below each unsound one
// in the reaffirmation tree. The work is the size of the result, not the
// square of a long chain of clean reaffirmations.
std::map<RecordId, std::set<RecordId>> find_restorers(const Tables& t, const std::set<RecordId>& unsound) {
  std::map<RecordId, std::vector<RecordId>> reaffirmed_by;
  for (const auto& [id, info] : t.selections)
    if (info.reaffirms) reaffirmed_by[*info.reaffirms].push_back(id);
  std::map<RecordId, std::set<RecordId>> restorers;
  std::vector<RecordId> work;
  for (const RecordId& target : unsound) {
    if (!t.selections.contains(target)) continue;
    std::set<RecordId> found, seen{target};
    work.assign(1, target);
    while (!work.empty()) {
      const RecordId next = work.back();
      work.pop_back();
      auto children = reaffirmed_by.find(next);
      if (children == reaffirmed_by.end()) continue;
      for (const RecordId& child : children->second) {
        if (!seen.insert(child).second) continue;
        if (!unsound.contains(child)) found.insert(child);
        work.push_back(child);
      }
    }
    if (!found.empty()) restorers.emplace(target, std::move(found));
  }
  return restorers;
}

class Descent {
 public:
  Descent(Tables& t, const State& state, const std::set<RecordId>& unsound,
          const std::map<RecordId, std::set<RecordId>>& restorers)
      : t_(t), state_(state), unsound_(unsound), restorers_(restorers) {}

  // Decides every Candidate, each after those it depends on, with an
  // explicit stack so that a long line of descent cannot exhaust the call
  // stack.
  void decide_all() {
    std::vector<std::map<RecordId, CandInfo>::iterator> stack;
    for (auto root = t_.candidates.begin(); root != t_.candidates.end(); ++root) {
      if (root->second.mark != CandInfo::Mark::Unvisited) continue;
      stack.push_back(root);
      while (!stack.empty()) {
        auto it = stack.back();
        CandInfo& info = it->second;
        if (info.mark == CandInfo::Mark::Decided) {
          stack.pop_back();
        } else if (info.mark == CandInfo::Mark::Unvisited) {
          info.mark = CandInfo::Mark::Pending;
          for_each_dependency(info, [&](const RecordId& dep) {
            auto d = t_.candidates.find(dep);
            if (d != t_.candidates.end() && d->second.mark == CandInfo::Mark::Unvisited) stack.push_back(d);
          });
        } else {
          info.sound = decide(it->first, info);
          info.mark = CandInfo::Mark::Decided;
          stack.pop_back();
        }
      }
    }
  }

 private:
  template <typename F>
  static void for_each_dependency(const CandInfo& info, F f) {
    if (info.basis == CandidateBasis::Continuation && info.parent) f(*info.parent);
    if (info.basis == CandidateBasis::Derivation)
      for (const RecordId& cause : info.causes) f(cause);
  }

  // A Candidate without a decided memo entry counts as not sound.
  bool sound(const RecordId& id) const {
    auto it = t_.candidates.find(id);
    return it != t_.candidates.end() && it->second.mark == CandInfo::Mark::Decided && it->second.sound;
  }

  bool decide(const RecordId& id, const CandInfo& info) const {
    if (state_.retracted_records.contains(id)) return false;
    switch (info.basis) {
      case CandidateBasis::Root: return true;
      case CandidateBasis::Derivation:
        for (const RecordId& cause : info.causes)
          if (t_.candidates.contains(cause) && !sound(cause)) return false;
        return true;
      case CandidateBasis::Continuation: {
        if (info.causes.empty() || !info.parent) return false;
        const RecordId& parent = *info.parent;
        if (!sound(parent)) return false;
        const RecordId& from = info.causes.front();
        if (!unsound_.contains(from)) return true;
        auto restorers = restorers_.find(from);
        if (restorers == restorers_.end()) return false;
        for (const RecordId& restorer : restorers->second) {
          auto s = t_.selections.find(restorer);
          if (s != t_.selections.end() && s->second.chosen.contains(parent)) return true;
        }
        return false;
      }
    }
    return false;
  }

  Tables& t_;
  const State& state_;
  const std::set<RecordId>& unsound_;
  const std::map<RecordId, std::set<RecordId>>& restorers_;
};

}  // namespace

StandingSection derive_standing(std::span<const Record> records, const State& state) {
  Tables tables = build_tables(records, state);
  StandingSection out;
  for (const auto& [id, info] : tables.selections)
    if (state.retracted_records.contains(id) || state.tainted_records.contains(id)) out.unsound.insert(id);

  const auto restorers = find_restorers(tables, out.unsound);
  for (const RecordId& id : out.unsound)
    if (auto it = restorers.find(id); it != restorers.end()) out.restorations.emplace(id, it->second);

  Descent(tables, state, out.unsound, restorers).decide_all();
  for (const auto& [id, info] : tables.candidates)
    if (!info.sound) out.compromised.insert(id);
  return out;
}

}  // namespace quillane
