// Checks of Approvals (what they approve), Plans (a consistent task graph
// under a live request) and Retractions (who may retract what).
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "verify/verifier/kind_checks.h"

namespace quillane {
namespace {

bool same_place(const Record& a, const Record& b) { return a.thread == b.thread && a.space == b.space; }

// The record has exactly one Cause reference, and it targets `id`.
bool only_cause_is(const Record& record, const RecordId& id) {
  const Ref* only = nullptr;
  for (const Ref& ref : record.refs) {
    if (ref.type != RefType::Cause) continue;
    if (only != nullptr) return false;
    only = &ref;
  }
  return only != nullptr && only->target == id;
}

bool terminal(TaskStatus status) {
  return status == TaskStatus::Done || status == TaskStatus::Failed || status == TaskStatus::Skipped;
}

using TaskIndex = std::unordered_map<std::string_view, std::size_t>;

// Task id -> position; false when two tasks share an id.
bool index_tasks(const std::vector<PlanTask>& tasks, TaskIndex& index) {
  index.reserve(tasks.size());
  for (std::size_t i = 0; i < tasks.size(); ++i)
    if (!index.emplace(tasks[i].id, i).second) return false;
  return true;
}

bool all_known(const std::vector<std::string>& ids, const TaskIndex& index) {
  for (const std::string& id : ids)
    if (!index.contains(id)) return false;
  return true;
}

// True when the depends_on relation has a cycle: tasks whose dependencies
// are all removed are removed in turn; whatever remains lies on a cycle.
// Dependencies on unknown ids are ignored.
bool has_cycle(const std::vector<PlanTask>& tasks, const TaskIndex& index) {
  std::vector<std::size_t> remaining(tasks.size(), 0);
  std::vector<std::vector<std::size_t>> dependents(tasks.size());
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    for (const std::string& dep : tasks[i].depends_on) {
      auto it = index.find(dep);
      if (it == index.end()) continue;
      ++remaining[i];
      dependents[it->second].push_back(i);
    }
  }
  std::vector<std::size_t> ready;
  for (std::size_t i = 0; i < tasks.size(); ++i)
    if (remaining[i] == 0) ready.push_back(i);
  std::size_t removed = 0;
  while (!ready.empty()) {
    const std::size_t task = ready.back();
    ready.pop_back();
    ++removed;
    for (std::size_t dependent : dependents[task])
      if (--remaining[dependent] == 0) ready.push_back(dependent);
  }
  return removed != tasks.size();
}

// A task's result is an accepted Result, beside the Plan, of an Action
// under the Plan's request.
Judgement check_task_result(const CheckInput& in, const PlanData& plan, const PlanTask& task) {
  if (task.status != TaskStatus::Done && task.status != TaskStatus::Failed) return ReasonCode::InvalidPayload;
  const Record* result = in.prior.find(*task.result_record_id);
  if (result == nullptr || result->kind != Kind::Result || !in.state.accepted(*task.result_record_id) ||
      !same_place(*result, in.record))
    return ReasonCode::InvalidPayload;
  auto result_data = decode_result_data(result->payload_json());
  if (!result_data) return ReasonCode::InvalidPayload;
  const Record* action = in.prior.find(result_data->action_id);
  if (action == nullptr) return ReasonCode::InvalidPayload;
  auto action_data = decode_action_data(action->payload_json());
  if (!action_data || action_data->request_id != plan.request_id) return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

bool status_agrees(const PlanData& plan) {
  bool all_terminal = true, all_done = true, any_failed_or_skipped = false;
  for (const PlanTask& task : plan.tasks) {
    all_terminal = all_terminal && terminal(task.status);
    all_done = all_done && task.status == TaskStatus::Done;
    any_failed_or_skipped =
        any_failed_or_skipped || task.status == TaskStatus::Failed || task.status == TaskStatus::Skipped;
  }
  switch (plan.status) {
    case PlanStatus::Running: return !all_terminal;
    case PlanStatus::Completed: return all_done;
    case PlanStatus::Abandoned: return all_terminal && any_failed_or_skipped;
  }
  return false;
}

}  // namespace

Judgement check_approval(const CheckInput& in) {
  const auto* approval = payload_as<ApprovalData>(in);
  if (approval == nullptr) return ReasonCode::InvalidPayload;
  if (approval->target_action.has_value() == approval->action_class.has_value()) return ReasonCode::InvalidPayload;
  if (approval->target_action && !approval->actor_id) return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

Judgement check_plan(const CheckInput& in) {
  const auto* plan = payload_as<PlanData>(in);
  if (plan == nullptr) return ReasonCode::InvalidPayload;
  if (!only_cause_is(in.record, plan->request_id)) return ReasonCode::RequestMissing;
  const Record* request = in.prior.find(plan->request_id);
  if (!in.state.active_requests.contains(plan->request_id) || request == nullptr || !same_place(*request, in.record))
    return ReasonCode::RequestMissing;

  if (plan->tasks.empty()) return ReasonCode::InvalidPayload;
  TaskIndex index;
  if (!index_tasks(plan->tasks, index)) return ReasonCode::InvalidPayload;
  for (const PlanTask& task : plan->tasks)
    if (!all_known(task.depends_on, index) || !all_known(task.inputs_from, index)) return ReasonCode::InvalidPayload;
  for (const PlanTask& task : plan->tasks)
    if (task.result_record_id) QL_JUDGE(check_task_result(in, *plan, task));
  if (has_cycle(plan->tasks, index)) return ReasonCode::InvalidPayload;
  if (!status_agrees(*plan)) return ReasonCode::InvalidPayload;
  return Judgement::accept();
}

Judgement check_retraction(const CheckInput& in) {
  const auto* retraction = payload_as<RetractionData>(in);
  if (retraction == nullptr) return ReasonCode::InvalidPayload;
  if (!only_cause_is(in.record, retraction->target_id)) return ReasonCode::InvalidPayload;
  const Record* target = in.prior.find(retraction->target_id);
  if (target == nullptr) return ReasonCode::RefUnresolved;
  if (!in.state.accepted(retraction->target_id)) return ReasonCode::InvalidPayload;
  if (target->kind == Kind::Verdict || target->kind == Kind::Retraction) return ReasonCode::InvalidPayload;
  if (target->author.id != in.record.author.id && !in.rules.admin_retraction_actors.contains(in.record.author.id))
    return ReasonCode::AuthorRoleInvalid;
  return Judgement::accept();
}

}  // namespace quillane
