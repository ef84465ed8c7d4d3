#include "log_fault_fs.h"

#include <set>

namespace quillane::test {
namespace {

std::string key_of(const std::filesystem::path& path) {
  std::string key = path.lexically_normal().string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

std::string parent_of(const std::string& key) { return std::filesystem::path(key).parent_path().string(); }

}  // namespace

FaultFs::FaultFs() {
  auto root = std::make_shared<Node>();
  root->dir = true;
  live_["/"] = durable_["/"] = root;
}

bool FaultFs::faulted(const char* name) {
  const std::size_t n = calls_++;
  const bool dead = crash_at_ && n >= *crash_at_;
  if (!dead && fail_at_ != n) return false;
  if (!fault_) fault_ = name;
  return true;
}

FaultFs::OpenFile* FaultFs::handle(const FileHandle& file) {
  auto it = open_.find(file.fd());
  return it == open_.end() ? nullptr : &it->second;
}

std::shared_ptr<FaultFs::Node> FaultFs::find(const std::string& key) const {
  auto it = live_.find(key);
  return it == live_.end() ? nullptr : it->second;
}

void FaultFs::power_cut(Cut how) {
  std::set<Node*> nodes;
  for (const Entries* entries : {&live_, &durable_})
    for (const auto& [key, node] : *entries) nodes.insert(node.get());
  for (const auto& [fd, file] : open_) nodes.insert(file.node.get());
  for (Node* node : nodes) {
    if (how == Cut::TornUnsynced && node->data.size() > node->synced.size() &&
        node->data.compare(0, node->synced.size(), node->synced) == 0)
      node->synced += node->data.substr(node->synced.size(), (node->data.size() - node->synced.size()) / 2);
    else if (how == Cut::KeepWritten)
      node->synced = node->data;
    node->data = node->synced;
  }
  if (how == Cut::KeepWritten) durable_ = live_;
  // Entries whose directory did not survive go with it; parents sort first.
  Entries kept;
  for (const auto& [key, node] : durable_)
    if (key == "/" || kept.contains(parent_of(key))) kept[key] = node;
  live_ = durable_ = kept;
  open_.clear();
  fail_at_.reset();
  crash_at_.reset();
  fault_.reset();
}

std::optional<std::string> FaultFs::read(const std::filesystem::path& path) const {
  auto node = find(key_of(path));
  if (!node || node->dir) return std::nullopt;
  return node->data;
}

void FaultFs::put(const std::filesystem::path& path, std::string content) {
  const std::string key = key_of(path);
  auto node = find(key);
  if (!node) node = std::make_shared<Node>();
  node->data = node->synced = std::move(content);
  live_[key] = durable_[key] = node;
}

void FaultFs::make_dirs(const std::filesystem::path& path) {
  const std::string key = key_of(path);
  if (live_.contains(key)) return;
  make_dirs(parent_of(key));
  auto node = std::make_shared<Node>();
  node->dir = true;
  live_[key] = durable_[key] = node;
}

Result<MakeDirOutcome> FaultFs::make_directory(const std::filesystem::path& path) {
  if (faulted("mkdir")) return injected("mkdir");
  const std::string key = key_of(path);
  if (auto node = find(key)) {
    if (node->dir) return MakeDirOutcome::Existed;
    return Error{"mkdir " + key + ": File exists"};
  }
  auto parent = find(parent_of(key));
  if (!parent) return MakeDirOutcome::ParentMissing;
  if (!parent->dir) return Error{"mkdir " + key + ": Not a directory"};
  auto node = std::make_shared<Node>();
  node->dir = true;
  live_[key] = node;
  return MakeDirOutcome::Created;
}

Result<FileHandle> FaultFs::open(const std::filesystem::path& path, OpenMode mode) {
  if (faulted("open")) return injected("open");
  const std::string key = key_of(path);
  auto node = find(key);
  if (mode == OpenMode::Directory) {
    if (!node || !node->dir) return Error{"open " + key + ": not a directory"};
  } else if (!node) {
    auto parent = find(parent_of(key));
    if (!parent || !parent->dir) return Error{"open " + key + ": No such file or directory"};
    node = live_[key] = std::make_shared<Node>();
  } else if (node->dir) {
    return Error{"open " + key + ": Is a directory"};
  }
  if (mode == OpenMode::WriteTruncate) node->data.clear();
  const int fd = next_fd_++;
  open_[fd] = OpenFile{node, key};
  return FileHandle(this, fd, key);
}

Result<std::uint64_t> FaultFs::size(const FileHandle& file) {
  if (faulted("size")) return injected("size");
  OpenFile* f = handle(file);
  if (!f) return Error{"bad file"};
  return f->node->data.size();
}

Result<std::size_t> FaultFs::read_at(const FileHandle& file, std::uint64_t offset, std::span<char> out) {
  if (faulted("read")) return injected("read");
  OpenFile* f = handle(file);
  if (!f) return Error{"bad file"};
  const std::string& data = f->node->data;
  if (offset >= data.size()) return std::size_t{0};
  return data.copy(out.data(), out.size(), offset);
}

Status FaultFs::append(const FileHandle& file, std::string_view bytes) {
  OpenFile* f = handle(file);
  if (faulted("append")) {
    if (f) f->node->data.append(bytes.substr(0, bytes.size() / 2));
    return injected("append");
  }
  if (!f) return Error{"bad file"};
  f->node->data.append(bytes);
  return {};
}

Status FaultFs::sync_data(const FileHandle& file) {
  if (faulted("fdatasync")) return injected("fdatasync");
  OpenFile* f = handle(file);
  if (!f) return Error{"bad file"};
  f->node->synced = f->node->data;
  return {};
}

Status FaultFs::sync(const FileHandle& file) {
  if (faulted("fsync")) return injected("fsync");
  OpenFile* f = handle(file);
  if (!f) return Error{"bad file"};
  if (!f->node->dir) {
    f->node->synced = f->node->data;
    return {};
  }
  // A directory: its entries as they are now become the durable ones.
  std::erase_if(durable_, [&](const auto& entry) { return parent_of(entry.first) == f->path && entry.first != "/"; });
  for (const auto& [key, node] : live_)
    if (key != "/" && parent_of(key) == f->path) durable_[key] = node;
  return {};
}

Status FaultFs::truncate(const FileHandle& file, std::uint64_t size) {
  if (faulted("truncate")) return injected("truncate");
  OpenFile* f = handle(file);
  if (!f) return Error{"bad file"};
  f->node->data.resize(size);
  return {};
}

Result<bool> FaultFs::try_lock(const FileHandle& file) {
  if (faulted("flock")) return injected("flock");
  OpenFile* f = handle(file);
  if (!f) return Error{"bad file"};
  for (const auto& [fd, other] : open_)
    if (fd != file.fd() && other.node == f->node && other.locked) return false;
  f->locked = true;
  return true;
}

Status FaultFs::rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (faulted("rename")) return injected("rename");
  auto node = find(key_of(from));
  if (!node) return Error{"rename " + key_of(from) + ": No such file or directory"};
  live_.erase(key_of(from));
  live_[key_of(to)] = node;
  return {};
}

Status FaultFs::remove(const std::filesystem::path& path) {
  if (faulted("unlink")) return injected("unlink");
  auto node = find(key_of(path));
  if (!node || node->dir) return Error{"unlink " + key_of(path) + ": No such file"};
  live_.erase(key_of(path));
  return {};
}

bool FaultFs::exists(const std::filesystem::path& path) {
  if (faulted("stat")) return false;
  return live_.contains(key_of(path));
}

}  // namespace quillane::test
