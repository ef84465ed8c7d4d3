#include "log/storage/commit_intent.h"

#include "base/jcs_writer.h"
#include "base/strict_decoders.h"

namespace quillane {

LogResult<std::string> encode_commit_intent(const CommitIntent& intent) {
  JsonObject o;
  o.reserve(2);
  o.emplace_back("subject_id", digest_json(intent.subject_id));
  o.emplace_back("written", Json(intent.written));
  Result<std::string> text = canonical_json(Json(std::move(o)));
  if (!text) return LogError::io(text.error().message);
  return std::move(text).value();
}

std::filesystem::path intent_temp_path(const std::filesystem::path& path) {
  return std::filesystem::path(path).replace_extension("intent.tmp");
}

LogStatus write_to_file(FileSystem& fs, const CommitIntent& intent, const std::filesystem::path& path) {
  QL_ASSIGN(const std::string bytes, encode_commit_intent(intent));
  const std::filesystem::path temp = intent_temp_path(path);
  {
    Result<FileHandle> file = fs.open(temp, OpenMode::WriteTruncate);
    if (!file) return LogError::io(file.error().message);
    if (Status s = fs.append(*file, bytes); !s) return LogError::io(s.error().message);
    if (Status s = fs.sync(*file); !s) return LogError::io(s.error().message);
  }
  if (Status s = fs.rename(temp, path); !s) return LogError::io(s.error().message);
  return sync_parent_dir(fs, path);
}

LogStatus clear_file(FileSystem& fs, const std::filesystem::path& path) {
  if (!fs.exists(path)) return {};
  if (Status s = fs.remove(path); !s) return LogError::io(s.error().message);
  return sync_parent_dir(fs, path);
}

LogStatus sync_parent_dir(FileSystem& fs, const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  if (parent.empty()) return {};
  if (Status s = sync_directory(fs, parent); !s) return LogError::io(s.error().message);
  return {};
}

}  // namespace quillane
