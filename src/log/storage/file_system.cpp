#include "log/storage/file_system.h"

namespace quillane {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    fs_ = std::exchange(other.fs_, nullptr);
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
  }
  return *this;
}

void FileHandle::close() {
  if (fs_ != nullptr) std::exchange(fs_, nullptr)->close(fd_);
  fd_ = -1;
}

Status sync_directory(FileSystem& fs, const std::filesystem::path& dir) {
  QL_ASSIGN(FileHandle handle, fs.open(dir, OpenMode::Directory));
  return fs.sync(handle);
}

Status create_directories(FileSystem& fs, const std::filesystem::path& dir) {
  if (!dir.has_filename() && dir.has_relative_path()) return create_directories(fs, dir.parent_path());
  QL_ASSIGN(MakeDirOutcome made, fs.make_directory(dir));
  const std::filesystem::path parent = dir.has_relative_path() ? dir.parent_path() : std::filesystem::path();
  if (made == MakeDirOutcome::ParentMissing) {
    if (parent.empty() || parent == dir) return Error{"cannot create directory " + dir.string()};
    QL_TRY(create_directories(fs, parent));
    QL_ASSIGN(made, fs.make_directory(dir));
    if (made == MakeDirOutcome::ParentMissing) return Error{"cannot create directory " + dir.string()};
  }
  if (made == MakeDirOutcome::Existed) return {};
  return sync_directory(fs, parent.empty() ? std::filesystem::path(".") : parent);
}

}  // namespace quillane
