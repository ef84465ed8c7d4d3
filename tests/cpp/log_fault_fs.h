// An in-memory file system for log tests that can fail any call on demand
// and cut the power. A power cut keeps, by default, what a real disk is
// sure to hold: each file's content as of its last fdatasync or fsync, and
// each directory's entries as of the directory's last fsync.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/storage/file_system.h"

namespace quillane::test {

class FaultFs final : public FileSystem {
 public:
  enum class Cut {
    DropUnsynced,  // a power cut: only what was flushed survives
    TornUnsynced,  // a power cut that also keeps half of each unflushed append
    KeepWritten,   // the process dies but the kernel survives: everything written stays
  };

  FaultFs();

  // Call number `n` (counting from 0 over every call but close) fails once.
  // A failing append writes half of its bytes first.
  void fail_call(std::size_t n) { fail_at_ = n; }
  // Call number `n` fails, and so does every later one: the process is dead.
  void crash_at_call(std::size_t n) { crash_at_ = n; }
  // Reboots: keeps what `how` says survives, closes every file (releasing
  // locks), and clears the faults.
  void power_cut(Cut how);

  std::size_t calls() const { return calls_; }
  // The name of the call that failed, or nothing.
  const std::optional<std::string>& fault() const { return fault_; }

  // Test setup and inspection, never failing and never counted.
  std::optional<std::string> read(const std::filesystem::path& path) const;
  // Writes a file durably (its directory must exist).
  void put(const std::filesystem::path& path, std::string content);
  void make_dirs(const std::filesystem::path& path);

  Result<MakeDirOutcome> make_directory(const std::filesystem::path& path) override;
  Result<FileHandle> open(const std::filesystem::path& path, OpenMode mode) override;
  Result<std::uint64_t> size(const FileHandle& file) override;
  Result<std::size_t> read_at(const FileHandle& file, std::uint64_t offset, std::span<char> out) override;
  Status append(const FileHandle& file, std::string_view bytes) override;
  Status sync_data(const FileHandle& file) override;
  Status sync(const FileHandle& file) override;
  Status truncate(const FileHandle& file, std::uint64_t size) override;
  Result<bool> try_lock(const FileHandle& file) override;
  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  Status remove(const std::filesystem::path& path) override;
  bool exists(const std::filesystem::path& path) override;

 protected:
  void close(int fd) override { open_.erase(fd); }

 private:
  struct Node {
    bool dir = false;
    std::string data;
    std::string synced;  // what the disk holds
  };
  struct OpenFile {
    std::shared_ptr<Node> node;
    std::string path;
    bool locked = false;
  };
  using Entries = std::map<std::string, std::shared_ptr<Node>>;

  // Counts the call and tells whether it must fail.
  bool faulted(const char* name);
  static Error injected(const char* name) { return Error{std::string("injected failure of ") + name}; }
  OpenFile* handle(const FileHandle& file);
  std::shared_ptr<Node> find(const std::string& key) const;

  Entries live_;
  Entries durable_;
  std::map<int, OpenFile> open_;
  int next_fd_ = 3;
  std::size_t calls_ = 0;
  std::optional<std::size_t> fail_at_;
  std::optional<std::size_t> crash_at_;
  std::optional<std::string> fault_;
};

}  // namespace quillane::test
