// Writes the fuzzer's seed receipts (small valid and invalid ones) into the
// directory named by QUILLANE_FUZZ_SEEDS; does nothing without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "profiles/core_v1.h"
#include "profiles/registry.h"
#include "receipt/validate.h"
#include "receipt_fixture.h"
#include "record/identity.h"

namespace quillane {
namespace {

using namespace test;

TEST(ReceiptSeeds, WriteFuzzCorpus) {
  const char* dir = std::getenv("QUILLANE_FUZZ_SEEDS");
  if (!dir) GTEST_SKIP() << "QUILLANE_FUZZ_SEEDS not set";
  std::filesystem::create_directories(dir);
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(std::filesystem::path(dir) / name, std::ios::binary) << bytes;
  };
  const std::string core(kCoreV1Id);

  write("empty-log", bytes_of(Receipt::make(std::vector<Record>{}, test_rules())));
  LogBuilder log;
  const SampleLine l = sample_line(log);
  const Receipt clean = receipt_of(log);
  write("clean", bytes_of(clean));
  write("declared", bytes_of(*with_declared_profiles(clean, std::span(&core, 1))));

  LogBuilder tainted_log = log;
  restore_after_retraction(tainted_log, l);
  write("tainted", bytes_of(receipt_of(tainted_log)));

  LogBuilder requirement_log;
  const RecordId request = requirement_log.accepted("quillane.request.v1", request_json());
  requirement_log.accepted("quillane.requirement.v1", requirement_json("fast"), {cause(request)});
  Receipt epoch03 = receipt_of(requirement_log);
  write("requirement", bytes_of(epoch03));
  epoch03.spec_version = "0.3";
  write("epoch-0.3", bytes_of(epoch03));

  Receipt forged = clean;
  forged.records[3] = *materialize_verdict(forged.records[2], 4, Judgement(ReasonCode::LineageInvalid));
  write("forged-verdict", bytes_of(forged));
  Receipt other = clean;
  other.spec_version = "0.5";
  write("unsupported-epoch", bytes_of(other));
  other = clean;
  other.profiles = {*profile_ref(kCoreV1Id), *profile_ref(kCoreV1Id)};
  write("declared-twice", bytes_of(other));
  const std::string text = bytes_of(clean);
  write("truncated", text.substr(0, text.size() / 2));
  write("empty", "");
}

}  // namespace
}  // namespace quillane
