// LogError: the one error type of the log subsystem (record file, commit
// intent, writer), with the fixed texts callers display. LogResult and
// LogStatus carry it the way Result and Status carry a plain Error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "base/result.h"
#include "record/enums.h"

namespace quillane {

enum class LogErrorKind : std::uint8_t {
  Locked, Io, CorruptIntent, Poisoned, TimeExhausted, FrameTooLarge,
  LogTooLarge, InvalidLog, StateMismatch, RulesMismatch, Json,
};

struct LogError {
  LogErrorKind kind = LogErrorKind::Io;
  std::string text;                  // Io, Json: the failure's own text
  std::uint64_t size = 0;            // FrameTooLarge: frame length; LogTooLarge: size
  std::uint64_t limit = 0;           // LogTooLarge
  std::optional<ReasonCode> reason;  // InvalidLog

  static LogError locked() { return of(LogErrorKind::Locked); }
  static LogError io(std::string text) { return of(LogErrorKind::Io, std::move(text)); }
  static LogError corrupt_intent() { return of(LogErrorKind::CorruptIntent); }
  static LogError poisoned() { return of(LogErrorKind::Poisoned); }
  static LogError time_exhausted() { return of(LogErrorKind::TimeExhausted); }
  static LogError frame_too_large(std::size_t length) {
    LogError e = of(LogErrorKind::FrameTooLarge);
    e.size = length;
    return e;
  }
  static LogError log_too_large(std::uint64_t size, std::uint64_t limit) {
    LogError e = of(LogErrorKind::LogTooLarge);
    e.size = size;
    e.limit = limit;
    return e;
  }
  static LogError invalid_log(std::optional<ReasonCode> reason) {
    LogError e = of(LogErrorKind::InvalidLog);
    e.reason = reason;
    return e;
  }
  static LogError state_mismatch() { return of(LogErrorKind::StateMismatch); }
  static LogError rules_mismatch() { return of(LogErrorKind::RulesMismatch); }
  static LogError json(std::string text) { return of(LogErrorKind::Json, std::move(text)); }

  // The display text.
  std::string message() const;

  bool operator==(const LogError&) const = default;

 private:
  static LogError of(LogErrorKind kind, std::string text = {}) {
    LogError e;
    e.kind = kind;
    e.text = std::move(text);
    return e;
  }
};

template <typename T>
using LogResult = Result<T, LogError>;
using LogStatus = BasicStatus<LogError>;

}  // namespace quillane
