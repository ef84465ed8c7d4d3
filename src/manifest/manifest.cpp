#include "manifest/manifest.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "base/jcs_writer.h"
#include "base/json_value.h"

namespace quillane {
namespace {

constexpr const char* kNonUtf8Path = "non-UTF-8 path is not representable in a manifest";
constexpr const char* kBadGitlinkOid = "gitlink OID is not a 40- or 64-hex string";

// File content is hashed through one buffer of this size per walk.
constexpr std::size_t kReadBlock = 64 * 1024;

Error os_error(int err) { return Error{std::system_category().message(err)}; }

// Runs a system call until it is not interrupted by a signal.
template <typename Call>
auto retry_eintr(Call call) {
  decltype(call()) r;
  do r = call();
  while (r == -1 && errno == EINTR);
  return r;
}

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) { ++i; continue; }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) len = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      if (b0 == 0xE0) lo = 0xA0;  // overlong
      if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      if (b0 == 0xF0) lo = 0x90;  // overlong
      if (b0 == 0xF4) hi = 0x8F;  // beyond U+10FFFF
    } else {
      return false;
    }
    if (s.size() - i < len) return false;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    if (b1 < lo || b1 > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if (b < 0x80 || b > 0xBF) return false;
    }
    i += len;
  }
  return true;
}

bool valid_gitlink_oid(std::string_view oid) {
  if (oid.size() != 40 && oid.size() != 64) return false;
  return std::all_of(oid.begin(), oid.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A directory still to be walked. It is opened relative to its parent's
// descriptor, which stays open only while such children are pending, so no
// path is resolved twice and none through a symbolic link.
struct PendingDir {
  std::shared_ptr<const Fd> parent;  // null for the root
  std::string name;                  // the root path when parent is null
  std::string prefix;                // relative path, empty for the root
};

Result<std::shared_ptr<const Fd>> open_dir(const PendingDir& dir) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
  // The root is the caller's own path and may itself be reached through a link.
  const int fd = dir.parent
                     ? retry_eintr([&] { return ::openat(dir.parent->get(), dir.name.c_str(), kFlags | O_NOFOLLOW); })
                     : retry_eintr([&] { return ::open(dir.name.c_str(), kFlags); });
  if (fd < 0) return os_error(errno);
  return std::make_shared<const Fd>(fd);
}

// File names of an open directory, without "." and "..", sorted bytewise.
Result<std::vector<std::string>> list_dir(const Fd& dir) {
  const int fd = retry_eintr([&] { return ::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0); });
  if (fd < 0) return os_error(errno);
  DIR* stream = ::fdopendir(fd);
  if (stream == nullptr) {
    const int err = errno;
    ::close(fd);
    return os_error(err);
  }
  std::unique_ptr<DIR, int (*)(DIR*)> owned(stream, ::closedir);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(stream);
    if (e == nullptr) {
      if (errno != 0) return os_error(errno);
      break;
    }
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Hashes a regular file found by lstat. The file is opened without following
// a link and without blocking, then checked again: if it was replaced
// meanwhile by a fifo, a device or a directory, it is skipped like any entry
// that is not a regular file; a link put in its place fails the open.
Result<std::optional<ManifestEntry>> hash_file(const Fd& dir, const std::string& name, std::string path,
                                               std::vector<char>& buffer) {
  const int raw = retry_eintr([&] {
    return ::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  });
  if (raw < 0) return os_error(errno);
  const Fd file(raw);
  struct stat st;
  if (retry_eintr([&] { return ::fstat(file.get(), &st); }) != 0) return os_error(errno);
  if (!S_ISREG(st.st_mode)) return std::optional<ManifestEntry>();

  Sha256Stream hash;
  for (;;) {
    const ssize_t n = retry_eintr([&] { return ::read(file.get(), buffer.data(), buffer.size()); });
    if (n < 0) return os_error(errno);
    if (n == 0) break;
    hash.update(buffer.data(), static_cast<std::size_t>(n));
  }
  const ManifestMode mode = (st.st_mode & S_IXUSR) ? ManifestMode::Executable : ManifestMode::Regular;
  return std::optional<ManifestEntry>(ManifestEntry{std::move(path), hash.finish(), mode});
}

Result<ManifestEntry> hash_link(const Fd& dir, const std::string& name, std::string path, std::size_t size_hint) {
  std::string target(std::max<std::size_t>(size_hint + 1, 256), '\0');
  for (;;) {
    const ssize_t n =
        retry_eintr([&] { return ::readlinkat(dir.get(), name.c_str(), target.data(), target.size()); });
    if (n < 0) return os_error(errno);
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      break;
    }
    // The target may be longer than lstat reported: grow and read again.
    target.resize(target.size() * 2);
  }
  if (!valid_utf8(target)) return Error{kNonUtf8Path};
  return ManifestEntry{std::move(path), sha256(target), ManifestMode::Symlink};
}

}  // namespace

std::string_view manifest_mode_text(ManifestMode mode) {
  switch (mode) {
    case ManifestMode::Regular: return "100644";
    case ManifestMode::Executable: return "100755";
    case ManifestMode::Symlink: return "120000";
    case ManifestMode::Gitlink: return "160000";
  }
  return "100644";
}

Result<std::vector<ManifestEntry>> manifest_from_dir(const std::string& root, const Gitlinks& gitlinks) {
  // Gitlinks are checked before any file is read.
  for (const auto& [path, oid] : gitlinks) {
    if (!valid_utf8(path)) return Error{kNonUtf8Path};
    if (!valid_gitlink_oid(oid)) return Error{kBadGitlinkOid};
  }
  if (root.find('\0') != std::string::npos) return os_error(EINVAL);

  std::vector<ManifestEntry> entries;
  std::vector<char> buffer(kReadBlock);
  std::vector<PendingDir> stack;
  stack.push_back(PendingDir{nullptr, root, ""});
  while (!stack.empty()) {
    PendingDir pending = std::move(stack.back());
    stack.pop_back();
    std::shared_ptr<const Fd> dir;
    QL_ASSIGN(dir, open_dir(pending));
    pending.parent.reset();
    std::vector<std::string> names;
    QL_ASSIGN(names, list_dir(*dir));

    for (std::string& name : names) {
      if (!valid_utf8(name)) return Error{kNonUtf8Path};
      if (name == ".git") continue;
      std::string path = pending.prefix.empty() ? name : pending.prefix + "/" + name;
      if (gitlinks.contains(path)) continue;

      struct stat st;
      if (retry_eintr([&] { return ::fstatat(dir->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW); }) != 0)
        return os_error(errno);
      if (S_ISDIR(st.st_mode)) {
        stack.push_back(PendingDir{dir, std::move(name), std::move(path)});
      } else if (S_ISREG(st.st_mode)) {
        std::optional<ManifestEntry> entry;
        QL_ASSIGN(entry, hash_file(*dir, name, std::move(path), buffer));
        if (entry) entries.push_back(std::move(*entry));
      } else if (S_ISLNK(st.st_mode)) {
        ManifestEntry entry;
        QL_ASSIGN(entry, hash_link(*dir, name, std::move(path), static_cast<std::size_t>(st.st_size)));
        entries.push_back(std::move(entry));
      }
      // Fifos, sockets and devices are not part of a manifest.
    }
  }

  for (const auto& [path, oid] : gitlinks)
    entries.push_back(ManifestEntry{path, sha256(oid), ManifestMode::Gitlink});
  return entries;
}

std::optional<Digest> manifest_hash(std::span<const ManifestEntry> entries) {
  std::vector<const ManifestEntry*> by_path;
  by_path.reserve(entries.size());
  for (const ManifestEntry& e : entries) {
    if (!valid_utf8(e.path)) return std::nullopt;
    by_path.push_back(&e);
  }
  std::sort(by_path.begin(), by_path.end(), [](auto* a, auto* b) { return a->path < b->path; });
  const auto same_path = [](auto* a, auto* b) { return a->path == b->path; };
  if (std::adjacent_find(by_path.begin(), by_path.end(), same_path) != by_path.end()) return std::nullopt;

  JsonObject document;
  document.reserve(by_path.size());
  for (const ManifestEntry* e : by_path) {
    JsonObject value;
    value.reserve(2);
    value.emplace_back("mode", std::string(manifest_mode_text(e->mode)));
    value.emplace_back("sha256", hex_encode(e->sha256));
    document.emplace_back(e->path, Json(std::move(value)));
  }
  // Only strings are written, so encoding cannot fail.
  const Result<std::string> bytes = canonical_json(Json(std::move(document)));
  if (!bytes.ok()) return std::nullopt;
  return sha256(*bytes);
}

}  // namespace quillane
