// The commit intent file: its bytes, its atomic replacement, its removal.
#include <gtest/gtest.h>

#include "log/storage/commit_intent.h"
#include "log_fault_fs.h"
#include "log_test_support.h"

namespace quillane {
namespace {

using namespace test;

std::string id_array(const RecordId& id) {
  std::string out = "[";
  for (std::size_t i = 0; i < id.size(); ++i) out += (i ? "," : "") + std::to_string(id[i]);
  return out + "]";
}

TEST(IntentFile, HoldsTheCanonicalObject) {
  ScratchDir scratch;
  const RecordId id = sha256_utf8("subject");
  const auto path = scratch / ".intent";
  EXPECT_EQ(intent_temp_path(path), scratch / ".intent.intent.tmp");
  for (bool written : {false, true}) {
    ASSERT_TRUE(write_to_file(posix_file_system(), CommitIntent{id, written}, path).ok());
    EXPECT_EQ(read_file(path.string()),
              "{\"subject_id\":" + id_array(id) + ",\"written\":" + (written ? "true" : "false") + "}");
  }
}

TEST(IntentFile, ReplacementIsAtomicAndDurable) {
  const CommitIntent old_intent{sha256_utf8("old"), true};
  const CommitIntent new_intent{sha256_utf8("new"), false};
  const std::string old_bytes = *encode_commit_intent(old_intent);
  const std::string new_bytes = *encode_commit_intent(new_intent);
  for (std::size_t k = 0;; ++k) {
    FaultFs fs;
    fs.make_dirs("/log");
    fs.put("/log/.intent", old_bytes);
    fs.fail_call(k);
    const LogStatus written = write_to_file(fs, new_intent, "/log/.intent");
    if (!fs.fault()) {
      ASSERT_TRUE(written.ok());
      fs.power_cut(FaultFs::Cut::DropUnsynced);
      EXPECT_EQ(fs.read("/log/.intent"), new_bytes);
      break;
    }
    EXPECT_EQ(written.ok(), false) << "call " << k << " (" << *fs.fault() << ")";
    const auto now = fs.read("/log/.intent");
    EXPECT_TRUE(now == old_bytes || now == new_bytes) << "call " << k;
    fs.power_cut(FaultFs::Cut::DropUnsynced);
    const auto after = fs.read("/log/.intent");
    EXPECT_TRUE(after == old_bytes || after == new_bytes) << "call " << k;
  }
}

TEST(IntentFile, ClearingAnAbsentFileFlushesNothing) {
  FaultFs fs;
  fs.make_dirs("/log");
  ASSERT_TRUE(clear_file(fs, "/log/.intent").ok());
  EXPECT_EQ(fs.calls(), 1u);  // the stat, nothing else

  fs.put("/log/.intent", "x");
  ASSERT_TRUE(clear_file(fs, "/log/.intent").ok());
  fs.power_cut(FaultFs::Cut::DropUnsynced);
  EXPECT_EQ(fs.read("/log/.intent"), std::nullopt);
}

TEST(IntentFile, StaleIntentIsRemovedAtOpenWhateverItHolds) {
  const std::string contents[] = {"", "not json \xff", *encode_commit_intent({sha256_utf8("s"), true})};
  for (const std::string& content : contents) {
    ScratchDir scratch;
    write_file(scratch / ".intent", content);
    write_file(scratch / ".intent.intent.tmp", content);
    Session session;
    ASSERT_TRUE(session.open(scratch.path()).ok());
    EXPECT_FALSE(std::filesystem::exists(scratch / ".intent"));
    ASSERT_TRUE(session.commit(request()).ok());
    EXPECT_FALSE(std::filesystem::exists(scratch / ".intent"));
  }
}

}  // namespace
}  // namespace quillane
