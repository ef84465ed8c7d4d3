// The enumerations of the record model, in declaration order.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/enum_names.h"

namespace quillane {

enum class Kind : std::uint8_t {
  Request, Action, Response, Result, Summary, Approval, Capability, Usage,
  Refusal, Verdict, Plan, Retraction, Candidate, Evaluation, Selection, Requirement,
};

enum class AuthorType : std::uint8_t { User, Provider, System, Executor, Verifier };

enum class RefType : std::uint8_t { Cause, Use, Require, Replace };

// Strongest first.
enum class Evidence : std::uint8_t { Deterministic, Verified, Reported, Inferred, Assumed };

enum class SummaryType : std::uint8_t { Procedure, Pattern, Lesson, StateSnapshot };

enum class VerdictResult : std::uint8_t { Accept, Reject };

enum class BindingMode : std::uint8_t { Reported, Manifest };

enum class ReasonCode : std::uint8_t {
  UnknownSchema, KindSchemaMismatch, SignatureMissing, SignatureInvalid, RefUnresolved,
  RefCrossSpace, RequestMissing, CapabilityMissing, CapabilityDenied, ApprovalMissing,
  ApprovalExpired, ActionClosed, ReplacementInvalid, ExternalReceiptRequired,
  EvidenceBelowThreshold, Refused, InvalidPayload, InvalidCheckpoint, AuthorRoleInvalid,
  AuthorityRefMissing, SourceBindingInvalid, LineageInvalid, PayloadRefUnresolved,
  EvaluationInvalid, SelectionInvalid, ReaffirmationInvalid, ArtifactRefInvalid,
  RequirementInvalid,
};

template <>
struct EnumNames<Kind> {
  static constexpr std::array<std::string_view, 16> names = {
      "Request", "Action", "Response", "Result", "Summary", "Approval", "Capability", "Usage",
      "Refusal", "Verdict", "Plan", "Retraction", "Candidate", "Evaluation", "Selection", "Requirement"};
};

template <>
struct EnumNames<AuthorType> {
  static constexpr std::array<std::string_view, 5> names = {"User", "Provider", "System", "Executor",
                                                            "Verifier"};
};

template <>
struct EnumNames<RefType> {
  static constexpr std::array<std::string_view, 4> names = {"Cause", "Use", "Require", "Replace"};
};

template <>
struct EnumNames<Evidence> {
  static constexpr std::array<std::string_view, 5> names = {"Deterministic", "Verified", "Reported",
                                                            "Inferred", "Assumed"};
};

template <>
struct EnumNames<SummaryType> {
  static constexpr std::array<std::string_view, 4> names = {"Procedure", "Pattern", "Lesson",
                                                            "StateSnapshot"};
};

template <>
struct EnumNames<VerdictResult> {
  static constexpr std::array<std::string_view, 2> names = {"Accept", "Reject"};
};

template <>
struct EnumNames<BindingMode> {
  static constexpr std::array<std::string_view, 2> names = {"reported", "manifest"};
};

template <>
struct EnumNames<ReasonCode> {
  static constexpr std::array<std::string_view, 28> names = {
      "UnknownSchema", "KindSchemaMismatch", "SignatureMissing", "SignatureInvalid",
      "RefUnresolved", "RefCrossSpace", "RequestMissing", "CapabilityMissing",
      "CapabilityDenied", "ApprovalMissing", "ApprovalExpired", "ActionClosed",
      "ReplacementInvalid", "ExternalReceiptRequired", "EvidenceBelowThreshold", "Refused",
      "InvalidPayload", "InvalidCheckpoint", "AuthorRoleInvalid", "AuthorityRefMissing",
      "SourceBindingInvalid", "LineageInvalid", "PayloadRefUnresolved", "EvaluationInvalid",
      "SelectionInvalid", "ReaffirmationInvalid", "ArtifactRefInvalid", "RequirementInvalid"};
};

}  // namespace quillane
