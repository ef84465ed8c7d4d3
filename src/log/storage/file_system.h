// The file-system calls the log makes, behind one interface so that tests can
// fail any call or cut the power. Every call reports failure as an Error with
// the operating system's text; none throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"

namespace quillane {

class FileSystem;

// An open file or directory; closing it releases any lock taken through it.
class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(FileSystem* fs, int fd, std::string name) : fs_(fs), fd_(fd), name_(std::move(name)) {}
  FileHandle(FileHandle&& other) noexcept { *this = std::move(other); }
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { close(); }

  int fd() const { return fd_; }
  const std::string& name() const { return name_; }  // the path, for messages
  bool is_open() const { return fs_ != nullptr; }
  void close();

 private:
  FileSystem* fs_ = nullptr;
  int fd_ = -1;
  std::string name_;
};

enum class OpenMode : std::uint8_t {
  ReadWrite,      // read and write; created if absent, content kept
  WriteKeep,      // write only; created if absent, content kept
  WriteTruncate,  // write only; created if absent, emptied
  Directory,      // a directory, read only (to flush it)
};

enum class MakeDirOutcome : std::uint8_t { Created, Existed, ParentMissing };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // One directory, permission bits 0777 before the umask.
  virtual Result<MakeDirOutcome> make_directory(const std::filesystem::path& path) = 0;
  // Files are created with permission bits 0666 before the umask.
  virtual Result<FileHandle> open(const std::filesystem::path& path, OpenMode mode) = 0;
  virtual Result<std::uint64_t> size(const FileHandle& file) = 0;
  // Up to out.size() bytes at `offset`; 0 only at the end of the file.
  virtual Result<std::size_t> read_at(const FileHandle& file, std::uint64_t offset, std::span<char> out) = 0;
  // Every byte, at the end of the file.
  virtual Status append(const FileHandle& file, std::string_view bytes) = 0;
  virtual Status sync_data(const FileHandle& file) = 0;  // fdatasync
  virtual Status sync(const FileHandle& file) = 0;       // fsync, of a file or a directory
  virtual Status truncate(const FileHandle& file, std::uint64_t size) = 0;
  // An exclusive advisory lock without waiting; false when another open
  // file holds it.
  virtual Result<bool> try_lock(const FileHandle& file) = 0;
  virtual Status rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual Status remove(const std::filesystem::path& path) = 0;
  // Whether `path` can be stat'ed (following symbolic links).
  virtual bool exists(const std::filesystem::path& path) = 0;

 protected:
  friend class FileHandle;
  virtual void close(int fd) = 0;
};

// The operating system's file system.
FileSystem& posix_file_system();

// Flushes a directory (open it read only, fsync, close).
Status sync_directory(FileSystem& fs, const std::filesystem::path& dir);

// Creates `dir` and any missing parents; every directory created is made
// durable by flushing the directory that holds it.
Status create_directories(FileSystem& fs, const std::filesystem::path& dir);

}  // namespace quillane
