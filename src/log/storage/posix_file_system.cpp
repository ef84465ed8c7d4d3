// The file system of the operating system: POSIX calls, each retried when a
// signal interrupts it, writes retried until every byte is out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log/storage/file_system.h"

namespace quillane {
namespace {

Error os_error(std::string_view operation, const std::string& name, int err) {
  return Error{std::string(operation) + " " + name + ": " + std::strerror(err)};
}

// Runs a call until a signal does not interrupt it.
template <typename Call>
auto retry(Call call) {
  for (;;) {
    auto rc = call();
    if (rc != -1 || errno != EINTR) return rc;
  }
}

int open_flags(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadWrite: return O_RDWR | O_CREAT;
    case OpenMode::WriteKeep: return O_WRONLY | O_CREAT;
    case OpenMode::WriteTruncate: return O_WRONLY | O_CREAT | O_TRUNC;
    case OpenMode::Directory: return O_RDONLY | O_DIRECTORY;
  }
  return O_RDONLY;
}

class PosixFileSystem final : public FileSystem {
 public:
  Result<MakeDirOutcome> make_directory(const std::filesystem::path& path) override {
    if (retry([&] { return ::mkdir(path.c_str(), 0777); }) == 0) return MakeDirOutcome::Created;
    const int err = errno;
    if (err == ENOENT) return MakeDirOutcome::ParentMissing;
    struct stat st;
    if (err == EEXIST && retry([&] { return ::stat(path.c_str(), &st); }) == 0 && S_ISDIR(st.st_mode))
      return MakeDirOutcome::Existed;
    return os_error("mkdir", path.string(), err);
  }

  Result<FileHandle> open(const std::filesystem::path& path, OpenMode mode) override {
    const int fd = retry([&] { return ::open(path.c_str(), open_flags(mode) | O_CLOEXEC, 0666); });
    if (fd < 0) return os_error("open", path.string(), errno);
    return FileHandle(this, fd, path.string());
  }

  Result<std::uint64_t> size(const FileHandle& file) override {
    struct stat st;
    if (retry([&] { return ::fstat(file.fd(), &st); }) != 0) return os_error("stat", file.name(), errno);
    return static_cast<std::uint64_t>(st.st_size);
  }

  Result<std::size_t> read_at(const FileHandle& file, std::uint64_t offset, std::span<char> out) override {
    const ssize_t n =
        retry([&] { return ::pread(file.fd(), out.data(), out.size(), static_cast<off_t>(offset)); });
    if (n < 0) return os_error("read", file.name(), errno);
    return static_cast<std::size_t>(n);
  }

  Status append(const FileHandle& file, std::string_view bytes) override {
    if (::lseek(file.fd(), 0, SEEK_END) < 0) return os_error("seek", file.name(), errno);
    while (!bytes.empty()) {
      const ssize_t n = retry([&] { return ::write(file.fd(), bytes.data(), bytes.size()); });
      if (n < 0) return os_error("write", file.name(), errno);
      if (n == 0) return Error{"write " + file.name() + ": no bytes written"};
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
  }

  Status sync_data(const FileHandle& file) override {
    if (retry([&] { return ::fdatasync(file.fd()); }) != 0) return os_error("fdatasync", file.name(), errno);
    return {};
  }

  Status sync(const FileHandle& file) override {
    if (retry([&] { return ::fsync(file.fd()); }) != 0) return os_error("fsync", file.name(), errno);
    return {};
  }

  Status truncate(const FileHandle& file, std::uint64_t size) override {
    if (retry([&] { return ::ftruncate(file.fd(), static_cast<off_t>(size)); }) != 0)
      return os_error("truncate", file.name(), errno);
    return {};
  }

  Result<bool> try_lock(const FileHandle& file) override {
    if (retry([&] { return ::flock(file.fd(), LOCK_EX | LOCK_NB); }) == 0) return true;
    if (errno == EWOULDBLOCK) return false;
    return os_error("lock", file.name(), errno);
  }

  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    if (retry([&] { return ::rename(from.c_str(), to.c_str()); }) != 0) return os_error("rename", from.string(), errno);
    return {};
  }

  Status remove(const std::filesystem::path& path) override {
    if (retry([&] { return ::unlink(path.c_str()); }) != 0) return os_error("unlink", path.string(), errno);
    return {};
  }

  bool exists(const std::filesystem::path& path) override {
    struct stat st;
    return retry([&] { return ::stat(path.c_str(), &st); }) == 0;
  }

 protected:
  // Not retried: on Linux the descriptor is released even when close is interrupted.
  void close(int fd) override { ::close(fd); }
};

}  // namespace

FileSystem& posix_file_system() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace quillane
