#include "manifest/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/digest.h"
#include "test_util.h"

namespace quillane {
namespace {

constexpr const char* kNonUtf8 = "non-UTF-8 path is not representable in a manifest";
constexpr const char* kBadOid = "gitlink OID is not a 40- or 64-hex string";
const std::string kOid40 = "0123456789abcdef0123456789abcdef01234567";
const std::string kOid64 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// One member of an expected manifest document, content given in the clear.
struct Member {
  std::string path, mode, content;
};

// Writes the manifest document by hand, members in the order given (which
// must be the canonical order), and hashes it.
Digest expected_hash(const std::vector<Member>& members) {
  std::string doc = "{";
  for (const Member& m : members) {
    if (doc.size() > 1) doc += ',';
    doc += "\"" + m.path + "\":{\"mode\":\"" + m.mode + "\",\"sha256\":\"" + hex_encode(sha256(m.content)) + "\"}";
  }
  return sha256(doc + "}");
}

// A scratch directory with helpers that build trees beneath it.
class ManifestTree : public ::testing::Test {
 public:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "manifest_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    root_ = base_;
  }
  void TearDown() override {
    // rm copes with trees deeper than PATH_MAX.
    EXPECT_EQ(std::system(("rm -rf '" + base_ + "'").c_str()), 0);
  }

  // Makes a fresh, empty tree root for one table case.
  void fresh_root(const std::string& name) {
    root_ = base_ + "/" + name;
    ASSERT_EQ(::mkdir(root_.c_str(), 0755), 0);
  }
  std::string at(const std::string& rel) const { return root_ + "/" + rel; }
  void parents(const std::string& rel) const {
    std::filesystem::create_directories(std::filesystem::path(at(rel)).parent_path());
  }
  void file(const std::string& rel, const std::string& content, mode_t mode = 0644) const {
    parents(rel);
    const int fd = ::open(at(rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << rel;
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    ASSERT_EQ(::chmod(at(rel).c_str(), mode), 0);
  }
  void dir(const std::string& rel) const { std::filesystem::create_directories(at(rel)); }
  void link(const std::string& rel, const std::string& target) const {
    parents(rel);
    ASSERT_EQ(::symlink(target.c_str(), at(rel).c_str()), 0);
  }
  void fifo(const std::string& rel) const {
    parents(rel);
    ASSERT_EQ(::mkfifo(at(rel).c_str(), 0644), 0);
  }
  Digest hash_of_root(const Gitlinks& gitlinks = {}) const {
    auto entries = manifest_from_dir(root_, gitlinks);
    EXPECT_TRUE(entries.ok()) << (entries.ok() ? "" : entries.error().message);
    if (!entries.ok()) return {};
    const auto hash = manifest_hash(*entries);
    EXPECT_TRUE(hash.has_value());
    return hash.value_or(Digest{});
  }

  std::string base_, root_;
};

TEST_F(ManifestTree, HashesOfSmallTrees) {
  // Content larger than any sensible read block, and not a multiple of one.
  std::string big(3 * 65536 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);

  const std::string e000 = "\xee\x80\x80", u10000 = "\xf0\x90\x80\x80";
  struct Case {
    const char* name;
    std::function<void(ManifestTree&)> build;
    std::vector<Member> expected;
  };
  const std::vector<Case> cases = {
      {"empty", [](ManifestTree&) {}, {}},
      {"only_git",
       [](ManifestTree& t) {
         t.file(".git/HEAD", "ref: refs/heads/main\n");
         t.file(".git/objects/ab/cd", "x");
       },
       {}},
      {"git_exact_name_only",
       [](ManifestTree& t) {
         t.file("sub/.git", "gitdir: ../.git/modules/sub\n");
         t.file(".gitignore", "*.o\n");
         t.file(".git2/x", "y");
       },
       {{".git2/x", "100644", "y"}, {".gitignore", "100644", "*.o\n"}}},
      {"plain_top_executable_below",
       [](ManifestTree& t) {
         t.file("a.txt", "hello\n");
         t.file("sub/run.sh", "#!/bin/sh\n", 0755);
       },
       {{"a.txt", "100644", "hello\n"}, {"sub/run.sh", "100755", "#!/bin/sh\n"}}},
      {"owner_execute_bit_decides",
       [](ManifestTree& t) {
         t.file("group_other_x", "g", 0655);
         t.file("owner_x_only", "o", 0744);
         t.file("read_only", "r", 0400);
       },
       {{"group_other_x", "100644", "g"}, {"owner_x_only", "100755", "o"}, {"read_only", "100644", "r"}}},
      {"links_recorded_not_followed",
       [](ManifestTree& t) {
         t.file("d/f", "inside");
         t.link("l", "d");
         t.link("dangling", "nowhere/at all");
         t.link("up", "..");
       },
       {{"d/f", "100644", "inside"},
        {"dangling", "120000", "nowhere/at all"},
        {"l", "120000", "d"},
        {"up", "120000", ".."}}},
      {"fifo_skipped",
       [](ManifestTree& t) {
         t.fifo("pipe");
         t.fifo("sub/pipe");
         t.file("q", "q");
       },
       {{"q", "100644", "q"}}},
      {"empty_directories_leave_no_trace",
       [](ManifestTree& t) {
         t.dir("a/b/c");
         t.file("z", "");
       },
       {{"z", "100644", ""}}},
      {"large_file_streamed", [&](ManifestTree& t) { t.file("big.bin", big); }, {{"big.bin", "100644", big}}},
      // The canonical form orders keys by UTF-16 units: U+10000 (a surrogate
      // pair) sorts before U+E000 although its UTF-8 bytes are greater.
      {"keys_in_utf16_order",
       [&](ManifestTree& t) {
         t.file(e000, "p");
         t.file(u10000, "s");
       },
       {{u10000, "100644", "s"}, {e000, "100644", "p"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_root(c.name);
    c.build(*this);
    EXPECT_EQ(hex_encode(hash_of_root()), hex_encode(expected_hash(c.expected)));
  }
  EXPECT_EQ(hex_encode(expected_hash({})), hex_encode(sha256(std::string_view("{}"))));
}

TEST_F(ManifestTree, EntriesInWalkOrderThenGitlinks) {
  file("b", "b");
  file("x/f", "f", 0700);
  file("y/g", "g");
  link("y/h", "b");
  file("mod/inner", "not walked");
  const Gitlinks gitlinks = {{"mod", kOid40}, {"deps/lib", kOid64}};
  auto entries = manifest_from_dir(root_, gitlinks);
  ASSERT_TRUE(entries.ok()) << entries.error().message;
  // Subdirectories wait on a stack: the last pushed ("y") is walked first.
  const std::vector<ManifestEntry> want = {
      {"b", sha256(std::string_view("b")), ManifestMode::Regular},
      {"y/g", sha256(std::string_view("g")), ManifestMode::Regular},
      {"y/h", sha256(std::string_view("b")), ManifestMode::Symlink},
      {"x/f", sha256(std::string_view("f")), ManifestMode::Executable},
      {"deps/lib", sha256(kOid64), ManifestMode::Gitlink},
      {"mod", sha256(kOid40), ManifestMode::Gitlink},
  };
  EXPECT_EQ(*entries, want);
  EXPECT_EQ(manifest_hash(*entries), expected_hash({{"b", "100644", "b"},
                                                    {"deps/lib", "160000", kOid64},
                                                    {"mod", "160000", kOid40},
                                                    {"x/f", "100755", "f"},
                                                    {"y/g", "100644", "g"},
                                                    {"y/h", "120000", "b"}}));
}

TEST_F(ManifestTree, SameContentSameHashWhateverTheHistory) {
  fresh_root("one");
  file("a", "1");
  file("d/b", "2");
  file("d/e/c", "3", 0755);
  const Digest first = hash_of_root();

  fresh_root("two");
  file("d/e/c", "3", 0755);
  file("d/b", "2");
  file("a", "1");
  EXPECT_EQ(hash_of_root(), first);

  const struct timespec times[2] = {{0, UTIME_NOW}, {12345, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, at("a").c_str(), times, 0), 0);
  EXPECT_EQ(hash_of_root(), first);

  ASSERT_EQ(::chmod(at("a").c_str(), 0744), 0);
  EXPECT_NE(hash_of_root(), first);
}

TEST_F(ManifestTree, TreeDeeperThanPathMax) {
  // 20 levels of 240-character names exceed PATH_MAX, so the tree is built
  // relative to each new directory.
  const std::string name(240, 'd');
  int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string path;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    path += name + "/";
  }
  ASSERT_GT(path.size(), std::size_t{PATH_MAX});
  const int leaf = ::openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ::close(fd);
  ASSERT_GE(leaf, 0);
  ::close(leaf);
  EXPECT_EQ(hash_of_root(), expected_hash({{path + "f", "100644", ""}}));
}

TEST_F(ManifestTree, WalkFailures) {
  struct Case {
    const char* name;
    std::function<void(ManifestTree&)> build;
    std::string root;  // relative to the case's root; empty for the root itself
    Gitlinks gitlinks;
    std::string message;
  };
  std::string upper = kOid40;
  upper[0] = 'A';
  upper[39] = 'F';
  const std::vector<Case> cases = {
      {"missing_root", [](ManifestTree&) {}, "absent", {}, "No such file or directory"},
      {"root_is_a_file", [](ManifestTree& t) { t.file("f", "x"); }, "f", {}, "Not a directory"},
      {"non_utf8_name", [](ManifestTree& t) { t.file("ok\xff", "x"); }, "", {}, kNonUtf8},
      {"non_utf8_name_below", [](ManifestTree& t) { t.file("a/b/\xc0\xaf", "x"); }, "", {}, kNonUtf8},
      {"surrogate_in_name", [](ManifestTree& t) { t.file("\xed\xa0\x80", "x"); }, "", {}, kNonUtf8},
      {"non_utf8_named_git_dir_entry", [](ManifestTree& t) { t.file(".git/\xfe", "x"); }, "", {}, ""},
      {"non_utf8_link_target", [](ManifestTree& t) { t.link("l", "to\xff"); }, "", {}, kNonUtf8},
      {"gitlink_uppercase", [](ManifestTree&) {}, "", {{"m", upper}}, kBadOid},
      {"gitlink_41_chars", [](ManifestTree&) {}, "", {{"m", kOid40 + "0"}}, kBadOid},
      {"gitlink_63_chars", [](ManifestTree&) {}, "", {{"m", kOid64.substr(1)}}, kBadOid},
      {"gitlink_not_hex", [](ManifestTree&) {}, "", {{"m", kOid40.substr(1) + "g"}}, kBadOid},
      {"gitlink_empty", [](ManifestTree&) {}, "", {{"m", ""}}, kBadOid},
      {"gitlink_path_non_utf8", [](ManifestTree&) {}, "", {{"m\xff", kOid40}}, kNonUtf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_root(c.name);
    c.build(*this);
    const auto entries = manifest_from_dir(c.root.empty() ? root_ : at(c.root), c.gitlinks);
    if (c.message.empty())
      EXPECT_TRUE(entries.ok()) << entries.error().message;  // a ".git" directory is never listed
    else
      EXPECT_EQ(test::error_of(entries), c.message);
  }
}

TEST(ManifestHash, DuplicatesAndInputOrder) {
  const ManifestEntry a{"a", sha256(std::string_view("1")), ManifestMode::Regular};
  const ManifestEntry b{"b/c", sha256(std::string_view("2")), ManifestMode::Executable};
  const ManifestEntry a_link{"a", sha256(std::string_view("1")), ManifestMode::Symlink};

  EXPECT_EQ(manifest_hash(std::vector<ManifestEntry>{}), sha256(std::string_view("{}")));
  const auto forward = manifest_hash(std::vector{a, b});
  ASSERT_TRUE(forward.has_value());
  EXPECT_EQ(*forward, expected_hash({{"a", "100644", "1"}, {"b/c", "100755", "2"}}));
  EXPECT_EQ(manifest_hash(std::vector{b, a}), forward);

  EXPECT_FALSE(manifest_hash(std::vector{a, b, a_link}).has_value());
  EXPECT_FALSE(manifest_hash(std::vector{a, a}).has_value());
  EXPECT_FALSE(manifest_hash(std::vector{ManifestEntry{"x\xff", {}, ManifestMode::Regular}}).has_value());
}

}  // namespace
}  // namespace quillane
