// The enumerations of the evolution payloads, in declaration order, with the
// names they travel as.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/enum_names.h"

namespace quillane {

// Who wrote a requirement: the user, or a provider or system deriving it.
enum class Provenance : std::uint8_t { UserAuthored, Derived };

// How a candidate descends from earlier work.
enum class CandidateBasis : std::uint8_t { Root, Continuation, Derivation };

// The hash algorithm of a reported git tree.
enum class SourceAlgo : std::uint8_t { Sha1, Sha256 };

// Whether an evaluator recomputed its result or declares it.
enum class Basis : std::uint8_t { Recomputed, Declared };

// The outcomes of a v1 evaluation that carry no data (a score does).
enum class PlainOutcome : std::uint8_t { Passed, Failed };

// The outcomes of a v2 evaluation that carry no data; only Passed is a pass,
// the last four record a decision that could not run to a pass.
enum class PlainOutcomeV2 : std::uint8_t { Passed, Failed, Blocked, Insufficient, Stale, NotRun };

template <>
struct EnumNames<Provenance> {
  static constexpr std::array<std::string_view, 2> names = {"user_authored", "derived"};
};

template <>
struct EnumNames<CandidateBasis> {
  static constexpr std::array<std::string_view, 3> names = {"root", "continuation", "derivation"};
};

template <>
struct EnumNames<SourceAlgo> {
  static constexpr std::array<std::string_view, 2> names = {"sha1", "sha256"};
};

template <>
struct EnumNames<Basis> {
  static constexpr std::array<std::string_view, 2> names = {"recomputed", "declared"};
};

template <>
struct EnumNames<PlainOutcome> {
  static constexpr std::array<std::string_view, 2> names = {"passed", "failed"};
};

template <>
struct EnumNames<PlainOutcomeV2> {
  static constexpr std::array<std::string_view, 6> names = {"passed",       "failed", "blocked",
                                                            "insufficient", "stale",  "not_run"};
};

}  // namespace quillane
