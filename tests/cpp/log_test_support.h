// Shared pieces of the log tests: a scratch directory on the real file
// system, raw frames, a writer with the state its caller keeps, and a
// hook into the writer's private counters.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "evolution_builders.h"
#include "log/storage/frames.h"
#include "log/writer/log_writer.h"
#include "log_fixture.h"
#include "test_util.h"
#include "verify/verifier/replay.h"

namespace quillane {

// Reaches into a writer for what only tests may see or set.
struct LogWriterTestAccess {
  static void set_next_time(LogWriter& w, std::uint64_t t) { w.next_time_ = t; }
  static const State& reference_state(const LogWriter& w) { return w.state_; }
};

namespace test {

// A fresh directory under the system's temporary directory, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillane-log-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty());
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::string frame_bytes(const Record& record) {
  auto body = encode_frame_body(record);
  EXPECT_TRUE(body.ok());
  return body.ok() ? frame_of(*body) : std::string();
}

inline std::string frames_of(std::span<const Record> records) {
  std::string out;
  for (const Record& r : records) out += frame_bytes(r);
  return out;
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string message_of(const LogError& e) { return e.message(); }

template <typename R>
std::string log_error_of(const R& result) {
  EXPECT_FALSE(result.ok());
  return result.ok() ? std::string("<no error>") : result.error().message();
}

// A pending record of the test rules' space and thread.
inline PendingRecord pending(std::string_view schema, const Json& payload, std::vector<Ref> refs = {},
                             std::string author = "") {
  static const LogBuilder builder;
  return builder.pending(schema, payload, std::move(refs), std::move(author));
}

inline PendingRecord request(const std::string& objective = "ship the feature") {
  return pending("quillane.request.v1", request_json(objective));
}

// A request whose parent does not exist: the verifier rejects it.
inline PendingRecord orphan_request() {
  return pending("quillane.request.v1", request_json("orphan", sha256_utf8("nowhere")));
}

// A writer and the state its caller keeps, as the module holds them.
struct Session {
  VerifierRules rules = test_rules();
  std::optional<LogWriter> writer;
  State state;

  LogStatus open(const std::filesystem::path& dir, FileSystem& fs = posix_file_system(),
                 std::uint64_t max_bytes = kDefaultMaxLogBytes) {
    writer.reset();
    auto opened = LogWriter::open_with_max_bytes(dir, rules, max_bytes, fs);
    if (!opened) return std::move(opened).error();
    writer.emplace(std::move(opened).value());
    auto built = verify_and_build_state(writer->records(), rules);
    EXPECT_TRUE(std::holds_alternative<State>(built));
    if (auto* s = std::get_if<State>(&built)) state = std::move(*s);
    return {};
  }

  LogResult<CommitOutcome> commit(PendingRecord p) { return writer->commit(std::move(p), rules, state); }
};

}  // namespace test
}  // namespace quillane
