// CommitIntent: the file .intent that marks a commit's durable phase. It is
// written atomically before the subject is appended, rewritten once it is,
// and removed when the Verdict is on disk. Recovery never reads it back:
// the log itself shows what a crash interrupted.
#pragma once

#include <filesystem>
#include <string>

#include "log/storage/file_system.h"
#include "log/storage/log_error.h"
#include "record/record.h"

namespace quillane {

struct CommitIntent {
  RecordId subject_id{};
  bool written = false;  // the subject is appended
  bool operator==(const CommitIntent&) const = default;
};

inline constexpr const char* kIntentFileName = ".intent";

// Canonical JSON: {"subject_id":[32 integers],"written":bool}.
LogResult<std::string> encode_commit_intent(const CommitIntent& intent);

// Where the intent is written before it is renamed over `path`: the
// extension set to "intent.tmp" (".intent" becomes ".intent.intent.tmp").
std::filesystem::path intent_temp_path(const std::filesystem::path& path);

// Writes the temporary file, flushes it, renames it over `path`, and
// flushes the directory.
LogStatus write_to_file(FileSystem& fs, const CommitIntent& intent, const std::filesystem::path& path);

// Removes `path` durably; an absent file (or one that cannot be stat'ed) is
// left alone and nothing is flushed.
LogStatus clear_file(FileSystem& fs, const std::filesystem::path& path);

// Flushes the directory holding `path`; nothing when it has no parent.
LogStatus sync_parent_dir(FileSystem& fs, const std::filesystem::path& path);

}  // namespace quillane
