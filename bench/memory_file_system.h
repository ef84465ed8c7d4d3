// A file system held in memory whose flushes do nothing: what a commit costs
// apart from the disk.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "log/storage/file_system.h"

namespace quillane::bench {

class MemoryFileSystem final : public FileSystem {
 public:
  void put(const std::filesystem::path& path, std::string content);
  const std::string* file(const std::filesystem::path& path) const;

  Result<MakeDirOutcome> make_directory(const std::filesystem::path& path) override;
  Result<FileHandle> open(const std::filesystem::path& path, OpenMode mode) override;
  Result<std::uint64_t> size(const FileHandle& file) override;
  Result<std::size_t> read_at(const FileHandle& file, std::uint64_t offset, std::span<char> out) override;
  Status append(const FileHandle& file, std::string_view bytes) override;
  Status sync_data(const FileHandle&) override { return {}; }
  Status sync(const FileHandle&) override { return {}; }
  Status truncate(const FileHandle& file, std::uint64_t size) override;
  Result<bool> try_lock(const FileHandle&) override { return true; }
  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  Status remove(const std::filesystem::path& path) override;
  bool exists(const std::filesystem::path& path) override { return files_.contains(path.string()) || dirs_.contains(path.string()); }

 protected:
  void close(int fd) override { open_.erase(fd); }

 private:
  std::map<std::string, std::shared_ptr<std::string>> files_;
  std::map<std::string, bool> dirs_{{"/", true}};
  std::map<int, std::shared_ptr<std::string>> open_;
  int next_fd_ = 3;
};

}  // namespace quillane::bench
