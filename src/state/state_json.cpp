// The serialised form of a State: an object of its fields; sets as arrays
// of members, maps as arrays of [key, value], tuples as arrays.
#include "base/enum_names.h"
#include "base/strict_decoders.h"
#include "state/state.h"

namespace quillane {
namespace {

Json to_json(const Digest& d) { return digest_json(d); }
Json to_json(const std::string& s) { return Json(s); }
Json to_json(std::uint64_t n) { return Json(n); }
Json to_json(std::uint32_t n) { return Json(n); }
Json to_json(const UsageOutcomeCounts& c) { return usage_outcome_counts_json(c); }
template <typename T>
Json to_json(const std::optional<T>& v) {
  return v ? to_json(*v) : Json();
}
template <typename A, typename B>
Json to_json(const std::pair<A, B>& p) {
  return Json(JsonArray{to_json(p.first), to_json(p.second)});
}
template <typename... T>
Json to_json(const std::tuple<T...>& t) {
  return std::apply([](const auto&... e) { return Json(JsonArray{to_json(e)...}); }, t);
}
template <typename T>
Json to_json(const std::set<T>& s) {
  JsonArray out;
  out.reserve(s.size());
  for (const auto& m : s) out.push_back(to_json(m));
  return Json(std::move(out));
}
template <typename K, typename V>
Json to_json(const std::map<K, V>& m) {
  JsonArray out;
  out.reserve(m.size());
  for (const auto& [k, v] : m) out.push_back(Json(JsonArray{to_json(k), to_json(v)}));
  return Json(std::move(out));
}

}  // namespace

Json state_json(const State& s) {
  JsonObject o;
  o.reserve(22);
  o.emplace_back("accepted_records", to_json(s.accepted_records));
  o.emplace_back("active_requests", to_json(s.active_requests));
  o.emplace_back("active_capabilities", to_json(s.active_capabilities));
  o.emplace_back("valid_approvals", to_json(s.valid_approvals));
  o.emplace_back("class_approvals", to_json(s.class_approvals));
  o.emplace_back("open_actions", to_json(s.open_actions));
  o.emplace_back("action_to_request", to_json(s.action_to_request));
  o.emplace_back("active_summaries", to_json(s.active_summaries));
  o.emplace_back("replaced_records", to_json(s.replaced_records));
  o.emplace_back("request_open_action_count", to_json(s.request_open_action_count));
  o.emplace_back("usage_counts", to_json(s.usage_counts));
  o.emplace_back("active_plans", to_json(s.active_plans));
  o.emplace_back("response_turns", to_json(s.response_turns));
  o.emplace_back("capability_index", to_json(s.capability_index));
  o.emplace_back("exact_approval_index", to_json(s.exact_approval_index));
  o.emplace_back("class_approval_index", to_json(s.class_approval_index));
  o.emplace_back("retracted_records", to_json(s.retracted_records));
  o.emplace_back("tainted_records", to_json(s.tainted_records));
  o.emplace_back("epistemic_dependents", to_json(s.epistemic_dependents));
  o.emplace_back("requirement_keys", to_json(s.requirement_keys));
  o.emplace_back("requirement_index", to_json(s.requirement_index));
  o.emplace_back("applied_up_to", Json(s.applied_up_to));
  return Json(std::move(o));
}

}  // namespace quillane
