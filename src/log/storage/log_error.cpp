#include "log/storage/log_error.h"

namespace quillane {

std::string LogError::message() const {
  switch (kind) {
    case LogErrorKind::Locked: return "log is already locked by another writer";
    case LogErrorKind::Io: return "I/O error: " + text;
    case LogErrorKind::CorruptIntent: return "corrupted commit intent during recovery";
    case LogErrorKind::Poisoned:
      return "a commit entered its durable phase but did not finish; drop and reopen the writer";
    case LogErrorKind::TimeExhausted: return "logical time counter exhausted; log accepts no further commits";
    case LogErrorKind::FrameTooLarge:
      return "record frame of " + std::to_string(size) +
             " bytes exceeds the u32 length prefix; refusing to corrupt the log";
    case LogErrorKind::LogTooLarge:
      return "log size of " + std::to_string(size) + " bytes exceeds configured limit of " +
             std::to_string(limit) + " bytes";
    case LogErrorKind::InvalidLog: {
      std::string out = "existing log failed replay verification";
      if (reason) out += ": " + std::string(name_of(*reason));
      return out;
    }
    case LogErrorKind::StateMismatch:
      return "derived state does not match the current log; rebuild it before committing";
    case LogErrorKind::RulesMismatch: return "commit rules differ from the rules used to open this writer";
    case LogErrorKind::Json: return "JSON error: " + text;
  }
  return "unknown log error";
}

}  // namespace quillane
