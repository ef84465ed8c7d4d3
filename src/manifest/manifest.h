// Directory manifests: every regular file and symbolic link under a
// directory with a git-style mode and the SHA-256 of its content, plus
// caller-supplied gitlinks, hashed as one canonical JSON object.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/digest.h"
#include "base/result.h"

namespace quillane {

enum class ManifestMode {
  Regular,     // "100644": regular file without the owner-execute bit
  Executable,  // "100755": regular file with the owner-execute bit
  Symlink,     // "120000": digest of the link's target text
  Gitlink,     // "160000": digest of the object id text
};

// The six-character git mode string of `mode`.
std::string_view manifest_mode_text(ManifestMode mode);

struct ManifestEntry {
  // Relative to the walked root, components joined by "/".
  std::string path;
  Digest sha256{};
  ManifestMode mode = ManifestMode::Regular;

  friend bool operator==(const ManifestEntry&, const ManifestEntry&) = default;
};

// Path to object id text (40 or 64 lowercase hex characters).
using Gitlinks = std::map<std::string, std::string>;

// Walks `root` without following symbolic links below it and lists its
// regular files and links in walk order, then one entry per gitlink in path
// order. ".git" entries, paths named by `gitlinks` and other file types are
// skipped. Failures carry the operating system's text or one of the
// manifest's own texts (non-UTF-8 name or link target, malformed gitlink).
Result<std::vector<ManifestEntry>> manifest_from_dir(const std::string& root, const Gitlinks& gitlinks);

// SHA-256 of the canonical JSON object {path: {"mode", "sha256" in hex}}.
// Nothing when two entries share a path, or when a path is not valid UTF-8
// (its canonical bytes would not be defined).
std::optional<Digest> manifest_hash(std::span<const ManifestEntry> entries);

}  // namespace quillane
