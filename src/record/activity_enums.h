// Enumerations of the work-activity payloads, in declaration order. The plan
// enumerations travel in lower case with underscores.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/enum_names.h"

namespace quillane {

enum class ExecMode : std::uint8_t { Internal, External };

enum class ResultStatus : std::uint8_t { Success, Failure };

enum class CapabilityMode : std::uint8_t { Auto, Ask, Deny };

enum class UsageOutcome : std::uint8_t { Done, NotDone, NoChange };

enum class RefusalTarget : std::uint8_t { Action, Request, VerifiedEffect };

enum class PlanStatus : std::uint8_t { Running, Completed, Abandoned };

// Done, Failed and Skipped are terminal.
enum class TaskStatus : std::uint8_t { Pending, Running, Done, Failed, Skipped };

enum class PlanTaskKind : std::uint8_t { Generic, Inspect, Search, Extract, Verify, Write, Summarize };

enum class TaskDoneWhen : std::uint8_t { ToolSuccess, NonEmptyResult, ContentRetrieved, FinalResponse };

enum class FailurePolicy : std::uint8_t { Continue, AskUser, Abort };

template <>
struct EnumNames<ExecMode> {
  static constexpr std::array<std::string_view, 2> names = {"Internal", "External"};
};

template <>
struct EnumNames<ResultStatus> {
  static constexpr std::array<std::string_view, 2> names = {"Success", "Failure"};
};

template <>
struct EnumNames<CapabilityMode> {
  static constexpr std::array<std::string_view, 3> names = {"Auto", "Ask", "Deny"};
};

template <>
struct EnumNames<UsageOutcome> {
  static constexpr std::array<std::string_view, 3> names = {"Done", "NotDone", "NoChange"};
};

template <>
struct EnumNames<RefusalTarget> {
  static constexpr std::array<std::string_view, 3> names = {"Action", "Request", "VerifiedEffect"};
};

template <>
struct EnumNames<PlanStatus> {
  static constexpr std::array<std::string_view, 3> names = {"running", "completed", "abandoned"};
};

template <>
struct EnumNames<TaskStatus> {
  static constexpr std::array<std::string_view, 5> names = {"pending", "running", "done", "failed",
                                                            "skipped"};
};

template <>
struct EnumNames<PlanTaskKind> {
  static constexpr std::array<std::string_view, 7> names = {"generic", "inspect", "search", "extract",
                                                            "verify",  "write",   "summarize"};
};

template <>
struct EnumNames<TaskDoneWhen> {
  static constexpr std::array<std::string_view, 4> names = {"tool_success", "non_empty_result",
                                                            "content_retrieved", "final_response"};
};

template <>
struct EnumNames<FailurePolicy> {
  static constexpr std::array<std::string_view, 3> names = {"continue", "ask_user", "abort"};
};

}  // namespace quillane
