#include "log/storage/file_log.h"

#include <algorithm>
#include <limits>

#include "log/storage/frames.h"

namespace quillane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kReadChunk = std::size_t{1} << 20;

// Reads from offset 0 until the end of the file or `limit` bytes.
Result<std::string> read_up_to(FileSystem& fs, const FileHandle& file, std::uint64_t limit, std::uint64_t size_hint) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(std::min(size_hint, limit)));
  while (bytes.size() < limit) {
    const std::size_t have = bytes.size();
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, limit - have));
    bytes.resize(have + want);
    Result<std::size_t> n = fs.read_at(file, have, std::span<char>(bytes.data() + have, want));
    if (!n) return std::move(n).error();
    bytes.resize(have + *n);
    if (*n == 0) break;
  }
  return bytes;
}

}  // namespace

LogResult<FileLog> FileLog::open(FileSystem& fs, std::filesystem::path dir, std::uint64_t max_bytes) {
  if (Status made = create_directories(fs, dir); !made) return LogError::io(made.error().message);
  Result<FileHandle> file = fs.open(dir / kFileName, OpenMode::ReadWrite);
  if (!file) return LogError::io(file.error().message);
  FileLog log(fs, std::move(dir), max_bytes, std::move(file).value());

  QL_ASSIGN(const std::uint64_t size, log.file_size());
  if (size > max_bytes) return LogError::log_too_large(size, max_bytes);
  const std::uint64_t read_limit = max_bytes == kU64Max ? kU64Max : max_bytes + 1;
  Result<std::string> bytes = read_up_to(fs, log.file_, read_limit, size);
  if (!bytes) return LogError::io(bytes.error().message);
  if (bytes->size() > max_bytes) return LogError::log_too_large(bytes->size(), max_bytes);

  QL_ASSIGN(DecodedFrames frames, decode_frames(*bytes));
  if (frames.end < bytes->size()) {
    // The writer died inside its last frame: drop the torn tail.
    if (Status s = fs.truncate(log.file_, frames.end); !s) return LogError::io(s.error().message);
    if (Status s = fs.sync_data(log.file_); !s) return LogError::io(s.error().message);
  }
  log.records_ = std::move(frames.records);
  log.index_.reserve(log.records_.size());
  for (std::size_t p = 0; p < log.records_.size(); ++p) log.index_.insert_or_assign(log.records_[p].id, p);
  return log;
}

LogStatus FileLog::append(Record record) {
  QL_ASSIGN(const std::string body, encode_frame_body(record));
  QL_ASSIGN(const std::uint64_t size, file_size());
  const std::uint64_t frame_bytes = kFramePrefixBytes + body.size();
  if (size > kU64Max - frame_bytes) return LogError::log_too_large(kU64Max, max_bytes_);
  if (size + frame_bytes > max_bytes_) return LogError::log_too_large(size + frame_bytes, max_bytes_);
  if (Status s = fs_->append(file_, frame_of(body)); !s) return LogError::io(s.error().message);
  if (Status s = fs_->sync_data(file_); !s) return LogError::io(s.error().message);
  index_.insert_or_assign(record.id, records_.size());
  records_.push_back(std::move(record));
  return {};
}

LogStatus FileLog::ensure_capacity_for(std::span<const Record> records) const {
  QL_ASSIGN(std::uint64_t total, file_size());
  for (const Record& record : records) {
    QL_ASSIGN(const std::string body, encode_frame_body(record));
    const std::uint64_t frame_bytes = kFramePrefixBytes + body.size();
    if (total > kU64Max - frame_bytes) return LogError::log_too_large(kU64Max, max_bytes_);
    total += frame_bytes;
  }
  if (total > max_bytes_) return LogError::log_too_large(total, max_bytes_);
  return {};
}

const Record* FileLog::get(const RecordId& id) const {
  auto it = index_.find(id);
  return it == index_.end() ? nullptr : &records_[it->second];
}

LogResult<std::uint64_t> FileLog::file_size() const {
  Result<std::uint64_t> size = fs_->size(file_);
  if (!size) return LogError::io(size.error().message);
  return *size;
}

}  // namespace quillane
