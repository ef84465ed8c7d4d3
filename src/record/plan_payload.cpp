// PlanData and its tasks.
#include <array>
#include <utility>

#include "base/strict_decoders.h"
#include "record/activity_payloads.h"

namespace quillane {
namespace {

constexpr std::array<std::string_view, 11> kTaskFields = {
    "id",        "description", "kind",   "tool_hint",        "inputs_from", "produces",
    "done_when", "status",      "result_record_id", "depends_on", "on_failure",
};
// id, description, status and on_failure.
constexpr std::uint64_t kTaskRequired = (1u << 0) | (1u << 1) | (1u << 7) | (1u << 10);

constexpr std::array<std::string_view, 3> kPlanFields = {"request_id", "tasks", "status"};

Result<std::vector<std::string>> read_task_ids(JsonReader& r) { return read_list<std::string>(r, read_text); }

Json text_json(const std::string& s) { return Json(s); }

}  // namespace

// Keys with a default (kind, inputs_from, done_when, depends_on) may be
// absent but not null: their decoders refuse null as a wrong type.
Result<PlanTask> read_plan_task(JsonReader& r) {
  PlanTask v;
  FieldSet fields(kTaskFields, kTaskRequired);
  QL_TRY(read_fields(r, "struct PlanTask", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.id, read_text(r));
      case 1: return store(v.description, read_text(r));
      case 2: return store(v.kind, read_enum<PlanTaskKind>(r));
      case 3: return store(v.tool_hint, read_optional<std::string>(r, read_text));
      case 4: return store(v.inputs_from, read_task_ids(r));
      case 5: return store(v.produces, read_optional<std::string>(r, read_text));
      case 6: return store(v.done_when, read_enum<TaskDoneWhen>(r));
      case 7: return store(v.status, read_enum<TaskStatus>(r));
      case 8: return store(v.result_record_id, read_optional<Digest>(r, read_digest));
      case 9: return store(v.depends_on, read_task_ids(r));
      default: return store(v.on_failure, read_enum<FailurePolicy>(r));
    }
  }));
  return v;
}

Json plan_task_json(const PlanTask& v) {
  JsonObject o;
  o.reserve(11);
  o.emplace_back("id", Json(v.id));
  o.emplace_back("description", Json(v.description));
  o.emplace_back("kind", enum_json(v.kind));
  o.emplace_back("tool_hint", optional_json(v.tool_hint, text_json));
  o.emplace_back("inputs_from", list_json(v.inputs_from, text_json));
  o.emplace_back("produces", optional_json(v.produces, text_json));
  o.emplace_back("done_when", enum_json(v.done_when));
  o.emplace_back("status", enum_json(v.status));
  o.emplace_back("result_record_id", optional_json(v.result_record_id, digest_json));
  o.emplace_back("depends_on", list_json(v.depends_on, text_json));
  o.emplace_back("on_failure", enum_json(v.on_failure));
  return Json(std::move(o));
}

Result<PlanData> read_plan_data(JsonReader& r) {
  PlanData v;
  FieldSet fields(kPlanFields, FieldSet::first(kPlanFields.size()));
  QL_TRY(read_fields(r, "struct PlanData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.request_id, read_digest(r));
      case 1: return store(v.tasks, read_list<PlanTask>(r, read_plan_task));
      default: return store(v.status, read_enum<PlanStatus>(r));
    }
  }));
  return v;
}

Result<PlanData> decode_plan_data(std::string_view bytes) {
  JsonReader r(bytes);
  QL_ASSIGN(PlanData v, read_plan_data(r));
  QL_TRY(r.finish());
  return v;
}

Json plan_data_json(const PlanData& v) {
  JsonObject o;
  o.reserve(3);
  o.emplace_back("request_id", digest_json(v.request_id));
  o.emplace_back("tasks", list_json(v.tasks, plan_task_json));
  o.emplace_back("status", enum_json(v.status));
  return Json(std::move(o));
}

}  // namespace quillane
