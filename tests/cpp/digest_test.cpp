#include <gtest/gtest.h>

#include "base/digest.h"
#include "base/quoted.h"
#include "base/schema.h"

namespace quillane {
namespace {

TEST(Digest, Sha256AndConcatenation) {
  EXPECT_EQ(hex_encode(sha256_utf8("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex_encode(sha256_utf8("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_concat_ids({}), sha256_utf8(""));
  const Digest a = sha256_utf8("a"), b = sha256_utf8("b");
  const Digest ab[] = {a, b}, ba[] = {b, a};
  std::string joined(a.begin(), a.end());
  joined.append(b.begin(), b.end());
  EXPECT_EQ(sha256_concat_ids(ab), sha256(joined));
  EXPECT_NE(sha256_concat_ids(ab), sha256_concat_ids(ba));

  Sha256Stream stream;
  stream.update("ab", 2);
  stream.update("c", 1);
  EXPECT_EQ(stream.finish(), sha256_utf8("abc"));
}

TEST(Digest, HexRoundTripAndRefusals) {
  const Digest d = sha256_utf8("x");
  const std::string hex = hex_encode(d);
  EXPECT_EQ(hex_decode(hex), d);
  std::string upper = hex;
  upper[upper.find_first_of("abcdef")] = 'A';
  for (const std::string& bad : {upper, hex.substr(0, 62), hex + "00", " " + hex.substr(1), hex.substr(0, 63) + "g"})
    EXPECT_FALSE(hex_decode(bad).has_value()) << bad;
}

TEST(Schema, NamesAndIds) {
  EXPECT_EQ(schema_name_for_id(schema_id("quillane.plan.v1")), "quillane.plan.v1");
  EXPECT_EQ(schema_name_for_id(schema_id("quillane.evaluation.attested.v1")), "quillane.evaluation.attested.v1");
  EXPECT_FALSE(schema_name_for_id(Digest{}).has_value());
}

TEST(Quoted, EscapesControlsAndKeepsPrintables) {
  EXPECT_EQ(quoted_form("bob"), "\"bob\"");
  EXPECT_EQ(quoted_form("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quoted_form(std::string("\t\r\n\0", 4)), "\"\\t\\r\\n\\0\"");
  EXPECT_EQ(quoted_form("\x1b\x7f"), "\"\\u{1b}\\u{7f}\"");
  EXPECT_EQ(quoted_form("caf\xc3\xa9 \xe2\x80\x8b"), "\"caf\xc3\xa9 \\u{200b}\"");
}

}  // namespace
}  // namespace quillane
