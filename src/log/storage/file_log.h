// FileLog: records.log under a log directory, and every record of it in
// memory, in log order, with an index from id to position. It knows nothing
// of verification or commit rules; the writer decides what is appended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <unordered_map>
#include <vector>

#include "log/storage/file_system.h"
#include "log/storage/log_error.h"
#include "record/record.h"
#include "verify/verifier/prior_index.h"

namespace quillane {

class FileLog {
 public:
  static constexpr const char* kFileName = "records.log";

  // Creates the directory if needed, reads every complete frame, and drops a
  // torn final frame (truncating and flushing the file).
  static LogResult<FileLog> open(FileSystem& fs, std::filesystem::path dir, std::uint64_t max_bytes);

  // Writes one frame and flushes it; only then is the record kept in memory.
  // On Io the file may hold a partial or unflushed frame.
  LogStatus append(Record record);

  // Checks that frames for `records` would fit under the limit; writes nothing.
  LogStatus ensure_capacity_for(std::span<const Record> records) const;

  // The record with this id (the later one when two share it), or null.
  const Record* get(const RecordId& id) const;

  std::span<const Record> records() const { return records_; }
  std::size_t size() const { return records_.size(); }
  const std::filesystem::path& dir() const { return dir_; }
  std::uint64_t max_bytes() const { return max_bytes_; }

 private:
  FileLog(FileSystem& fs, std::filesystem::path dir, std::uint64_t max_bytes, FileHandle file)
      : fs_(&fs), dir_(std::move(dir)), max_bytes_(max_bytes), file_(std::move(file)) {}

  LogResult<std::uint64_t> file_size() const;

  FileSystem* fs_;
  std::filesystem::path dir_;
  std::vector<Record> records_;
  std::unordered_map<RecordId, std::size_t, DigestHash> index_;
  std::uint64_t max_bytes_;
  FileHandle file_;
};

}  // namespace quillane
