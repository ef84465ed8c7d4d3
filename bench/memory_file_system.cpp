#include "memory_file_system.h"

namespace quillane::bench {

void MemoryFileSystem::put(const std::filesystem::path& path, std::string content) {
  files_[path.string()] = std::make_shared<std::string>(std::move(content));
}

const std::string* MemoryFileSystem::file(const std::filesystem::path& path) const {
  auto it = files_.find(path.string());
  return it == files_.end() ? nullptr : it->second.get();
}

Result<MakeDirOutcome> MemoryFileSystem::make_directory(const std::filesystem::path& path) {
  if (dirs_.contains(path.string())) return MakeDirOutcome::Existed;
  if (!dirs_.contains(path.parent_path().string())) return MakeDirOutcome::ParentMissing;
  dirs_[path.string()] = true;
  return MakeDirOutcome::Created;
}

Result<FileHandle> MemoryFileSystem::open(const std::filesystem::path& path, OpenMode mode) {
  if (mode == OpenMode::Directory) {
    if (!dirs_.contains(path.string())) return Error{"no directory " + path.string()};
    return FileHandle(this, next_fd_++, path.string());
  }
  auto& file = files_[path.string()];
  if (!file) file = std::make_shared<std::string>();
  if (mode == OpenMode::WriteTruncate) file->clear();
  const int fd = next_fd_++;
  open_[fd] = file;
  return FileHandle(this, fd, path.string());
}

Result<std::uint64_t> MemoryFileSystem::size(const FileHandle& file) { return open_.at(file.fd())->size(); }

Result<std::size_t> MemoryFileSystem::read_at(const FileHandle& file, std::uint64_t offset, std::span<char> out) {
  const std::string& data = *open_.at(file.fd());
  if (offset >= data.size()) return std::size_t{0};
  return data.copy(out.data(), out.size(), offset);
}

Status MemoryFileSystem::append(const FileHandle& file, std::string_view bytes) {
  open_.at(file.fd())->append(bytes);
  return {};
}

Status MemoryFileSystem::truncate(const FileHandle& file, std::uint64_t size) {
  open_.at(file.fd())->resize(size);
  return {};
}

Status MemoryFileSystem::rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  auto it = files_.find(from.string());
  if (it == files_.end()) return Error{"no file " + from.string()};
  files_[to.string()] = it->second;
  files_.erase(from.string());
  return {};
}

Status MemoryFileSystem::remove(const std::filesystem::path& path) {
  if (files_.erase(path.string()) == 0) return Error{"no file " + path.string()};
  return {};
}

}  // namespace quillane::bench
