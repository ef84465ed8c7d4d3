#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "record/evidence.h"
#include "record/identity.h"
#include "record/record.h"
#include "record/signing.h"
#include "test_util.h"

namespace quillane {
namespace {

using test::error_of;

Digest filled(std::uint8_t b) {
  Digest d;
  d.fill(b);
  return d;
}

Record sample_record() {
  Record r;
  r.space = filled(1);
  r.thread = filled(1);
  r.time = 3;
  r.author = Author{"alice", AuthorType::User, std::nullopt};
  r.kind = Kind::Request;
  r.schema = schema_id("quillane.request.v1");
  const std::string payload = R"({"objective":"x"})";
  r.data.assign(payload.begin(), payload.end());
  r.refs = {Ref{RefType::Use, filled(9)}};
  r.evidence = Evidence::Reported;
  return r;
}

std::array<std::uint8_t, 32> seed(std::uint8_t b) {
  std::array<std::uint8_t, 32> s;
  s.fill(b);
  return s;
}

TEST(RecordEnvelope, DecodesStrictlyAndEncodesCanonically) {
  const Record r = sample_record();
  const std::string bytes = *encode_record(r);
  EXPECT_EQ(bytes.substr(0, 40), R"({"author":{"id":"alice","signature":null)");
  auto back = decode_record(bytes);
  ASSERT_TRUE(back.ok()) << back.error().message;
  EXPECT_EQ(*back, r);
  EXPECT_EQ(back->payload_json(), R"({"objective":"x"})");

  // Without the signature key the author decodes as unsigned.
  std::string no_sig = bytes;
  no_sig.erase(no_sig.find(",\"signature\":null"), 17);
  ASSERT_TRUE(decode_record(no_sig).ok());
  EXPECT_EQ(*encode_record(*decode_record(no_sig)), bytes);

  auto replace = [&](const std::string& from, const std::string& to) {
    std::string t = bytes;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const std::string payload_array = bytes.substr(bytes.find("\"data\":") + 7, bytes.find("],\"evidence\"") - bytes.find("\"data\":") - 6);
  struct Case {
    std::string text, error;
  };
  const Case cases[] = {
      {replace("{\"author\"", "{\"note\":1,\"author\""),
       "unknown field `note`, expected one of `id`, `space`, `thread`, `time`, `author`, `kind`, `schema`, `data`, "
       "`refs`, `evidence`"},
      {replace("\"data\":" + payload_array, "\"data\":\"x\""), "invalid type: string \"x\", expected a byte array"},
      {replace("\"kind\":\"Request\"", "\"kind\":\"request\""), "unknown variant `request`"},
      {replace("\"kind\":\"Request\",", ""), "missing field `kind`"},
      {replace("\"type\":\"User\"", "\"type\":\"User\",\"type\":\"User\""), "duplicate field `type`"},
      {replace("\"signature\":null", "\"signature\":{\"key_id\":\"\"}"), "missing field `sig`"},
      {replace("\"time\":3", "\"time\":-3"), "invalid value: integer `-3`, expected u64"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(decode_record(c.text)).substr(0, c.error.size()), c.error) << c.text;

  std::string short_id = bytes;
  const auto id_at = short_id.find("\"id\":[") + 6;
  short_id.erase(id_at, 2);  // drop the first "0," of the id
  EXPECT_NE(error_of(decode_record(short_id)).find("invalid length 31"), std::string::npos);

  std::string empty = replace("\"data\":" + payload_array, "\"data\":[]");
  ASSERT_TRUE(decode_record(empty).ok());
  EXPECT_TRUE(decode_record(empty)->data.empty());
}

TEST(RecordEnvelope, AllowedAuthorTypes) {
  auto allowed = [](Kind k) {
    auto s = allowed_author_types(k);
    return std::vector<AuthorType>(s.begin(), s.end());
  };
  EXPECT_EQ(allowed(Kind::Verdict), std::vector<AuthorType>{AuthorType::Verifier});
  EXPECT_EQ(allowed(Kind::Candidate),
            (std::vector<AuthorType>{AuthorType::User, AuthorType::Provider, AuthorType::Executor, AuthorType::System}));
  std::vector<Kind> executor_kinds;
  for (std::size_t k = 0; k < enum_count<Kind>(); ++k) {
    const auto types = allowed(static_cast<Kind>(k));
    if (static_cast<Kind>(k) != Kind::Verdict) {
      EXPECT_EQ(std::count(types.begin(), types.end(), AuthorType::Verifier), 0);
    }
    if (std::count(types.begin(), types.end(), AuthorType::Executor)) executor_kinds.push_back(static_cast<Kind>(k));
  }
  EXPECT_EQ(executor_kinds, (std::vector<Kind>{Kind::Result, Kind::Candidate, Kind::Evaluation}));
  std::set<Kind> kinds = {Kind::Requirement, Kind::Candidate, Kind::Retraction};
  EXPECT_EQ(std::vector<Kind>(kinds.begin(), kinds.end()),
            (std::vector<Kind>{Kind::Retraction, Kind::Candidate, Kind::Requirement}));
}

TEST(RecordIdentity, IdCoversEverythingButTheId) {
  const Record base = sample_record();
  const RecordId id = *compute_id(base);
  Record other_id = base;
  other_id.id = filled(0xEE);
  EXPECT_EQ(*compute_id(other_id), id);
  EXPECT_EQ(with_computed_id(base)->id, id);

  // The unsigned id form has no signature key; writing null would change it.
  const std::string form = *canonical_json(canonical_id_form(base));
  EXPECT_EQ(form.find("signature"), std::string::npos);
  std::string with_null = form;
  with_null.replace(with_null.find("\"type\":\"User\""), 13, "\"signature\":null,\"type\":\"User\"");
  EXPECT_NE(sha256(with_null), id);

  const std::vector<std::function<void(Record&)>> changes = {
      [](Record& r) { r.space[0] ^= 1; },
      [](Record& r) { r.thread[0] ^= 1; },
      [](Record& r) { r.time += 1; },
      [](Record& r) { r.author.id += "x"; },
      [](Record& r) { r.author.type = AuthorType::System; },
      [](Record& r) { r.kind = Kind::Plan; },
      [](Record& r) { r.schema[0] ^= 1; },
      [](Record& r) { r.data.push_back(' '); },
      [](Record& r) { r.refs.clear(); },
      [](Record& r) { r.evidence = Evidence::Assumed; },
      [](Record& r) { r.author.signature = Signature{"k", {1}}; },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    Record changed = base;
    changes[i](changed);
    EXPECT_NE(*compute_id(changed), id) << "change " << i;
  }
  Record signed_record = base;
  signed_record.author.signature = Signature{"k", {1}};
  Record other_sig = signed_record;
  other_sig.author.signature->sig[0] = 2;
  Record other_key = signed_record;
  other_key.author.signature->key_id = "j";
  EXPECT_NE(*compute_id(other_sig), *compute_id(signed_record));
  EXPECT_NE(*compute_id(other_key), *compute_id(signed_record));

  Record too_late = base;
  too_late.time = kMaxSafeInteger + 1;
  EXPECT_NE(error_of(compute_id(too_late)).find("exceeds the I-JSON safe range"), std::string::npos);
}

TEST(RecordIdentity, SortAndDedupRefs) {
  const Digest a = filled(1), b = filled(2), x = filled(7), y = filled(8);
  std::vector<Ref> refs = {{RefType::Use, x}, {RefType::Cause, y}, {RefType::Use, x}};
  sort_and_dedup_refs(refs);
  EXPECT_EQ(refs, (std::vector<Ref>{{RefType::Cause, y}, {RefType::Use, x}}));
  refs = {{RefType::Require, b}, {RefType::Require, a}};
  sort_and_dedup_refs(refs);
  EXPECT_EQ(refs, (std::vector<Ref>{{RefType::Require, a}, {RefType::Require, b}}));
  refs = {{RefType::Replace, a}, {RefType::Cause, b}, {RefType::Require, a}, {RefType::Use, b}};
  sort_and_dedup_refs(refs);
  EXPECT_EQ(refs, (std::vector<Ref>{{RefType::Cause, b}, {RefType::Use, b}, {RefType::Require, a}, {RefType::Replace, a}}));
}

// The five vectors of RFC 8032 section 7.1.
struct Rfc8032Vector {
  std::string secret, public_key, message, signature;
};

std::vector<Rfc8032Vector> rfc8032_vectors() {
  std::istringstream in(test::read_file(test::vectors_path("ed25519/section-7.1-ed25519.txt")));
  std::vector<Rfc8032Vector> out;
  std::string line, *field = nullptr;
  auto is_hex_line = [](const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  };
  while (std::getline(in, line)) {
    std::string t = line;
    t.erase(0, t.find_first_not_of(' '));
    t.erase(t.find_last_not_of(" \r") + 1);
    if (t.rfind("-----TEST", 0) == 0) {
      out.emplace_back();
    } else if (out.empty()) {
      continue;
    } else if (t == "SECRET KEY:") field = &out.back().secret;
    else if (t == "PUBLIC KEY:") field = &out.back().public_key;
    else if (t.rfind("MESSAGE", 0) == 0) field = &out.back().message;
    else if (t == "SIGNATURE:") field = &out.back().signature;
    else if (t == "ALGORITHM:" || t == "Ed25519") field = nullptr;
    else if (field && is_hex_line(t)) *field += t;
  }
  return out;
}

std::string unhex(const std::string& h) {
  std::string out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

TEST(RecordSigning, Rfc8032Vectors) {
  const auto vectors = rfc8032_vectors();
  ASSERT_EQ(vectors.size(), 5u);
  for (const auto& v : vectors) {
    std::array<std::uint8_t, 32> s;
    const std::string secret = unhex(v.secret);
    ASSERT_EQ(secret.size(), 32u);
    std::copy(secret.begin(), secret.end(), s.begin());
    const auto signer = Ed25519Signer::from_secret_bytes(s);
    EXPECT_EQ(hex_encode(signer.public_key()), v.public_key);
    const std::string message = unhex(v.message);
    const auto sig = signer.sign_message(message);
    EXPECT_EQ(unhex(v.signature), std::string(sig.begin(), sig.end()));
    EXPECT_TRUE(ed25519_verify(signer.public_key(), message, sig));
    auto bad = sig;
    bad[10] ^= 1;
    EXPECT_FALSE(ed25519_verify(signer.public_key(), message, bad));
  }
}

TEST(RecordSigning, VerifiedKey) {
  const auto signer = Ed25519Signer::from_secret_bytes(seed(5));
  Record r = sample_record();
  EXPECT_FALSE(verified_key(r).has_value());
  r.author.signature = *signer.sign(r);
  EXPECT_EQ(verified_key(r), signer.public_key());
  EXPECT_EQ(r.author.signature->key_id, hex_encode(signer.public_key()));

  // Deterministic, independent of the stored id and signature.
  Record again = r;
  again.id = filled(3);
  EXPECT_EQ(signer.sign(again)->sig, r.author.signature->sig);
  Record other_signer = r;
  other_signer.author.signature = *Ed25519Signer::from_secret_bytes(seed(6)).sign(r);
  EXPECT_NE(*compute_id(other_signer), *compute_id(r));

  const std::vector<std::function<void(Record&)>> defects = {
      [](Record& x) {
        auto& k = x.author.signature->key_id;
        std::transform(k.begin(), k.end(), k.begin(), ::toupper);
      },
      [](Record& x) { x.author.signature->key_id.pop_back(); },
      [](Record& x) { x.author.signature->key_id += "0"; },
      [](Record& x) { x.author.signature->sig.pop_back(); },
      [](Record& x) { x.evidence = Evidence::Assumed; },
      [](Record& x) { x.refs.push_back(Ref{RefType::Cause, filled(4)}); },
      // A key that is not a curve point (y = 2 does not decompress).
      [](Record& x) { x.author.signature->key_id = "02" + std::string(62, '0'); },
      // The identity point has small order.
      [](Record& x) { x.author.signature->key_id = "01" + std::string(62, '0'); },
  };
  for (std::size_t i = 0; i < defects.size(); ++i) {
    Record bad = r;
    defects[i](bad);
    EXPECT_FALSE(verified_key(bad).has_value()) << "defect " << i;
  }
  // s + L (the group order) verifies under a lax check; the strict one refuses it.
  static constexpr std::uint8_t kOrder[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                              0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};
  Record malleable = r;
  auto& sig = malleable.author.signature->sig;
  unsigned carry = 0;
  for (int i = 0; i < 32; ++i) {
    const unsigned sum = sig[32 + i] + kOrder[i] + carry;
    sig[32 + i] = static_cast<std::uint8_t>(sum);
    carry = sum >> 8;
  }
  EXPECT_FALSE(verified_key(malleable).has_value());
}

TEST(RecordEvidence, BaseAndDerivedClasses) {
  EXPECT_EQ(base_evidence(schema_id("quillane.verdict.v1")), Evidence::Deterministic);
  EXPECT_EQ(base_evidence(schema_id("quillane.evaluation.attested.v1")), Evidence::Verified);
  EXPECT_EQ(base_evidence(schema_id("quillane.result.external_receipt.v1")), Evidence::Verified);
  EXPECT_EQ(base_evidence(schema_id("quillane.selection.v1")), Evidence::Inferred);
  EXPECT_EQ(base_evidence(schema_id("quillane.candidate.v1")), Evidence::Reported);
  EXPECT_EQ(base_evidence(Digest{}), Evidence::Assumed);
  const Evidence reported[] = {Evidence::Reported, Evidence::Reported};
  EXPECT_EQ(derive_evidence(schema_id("quillane.selection.v1"), reported), Evidence::Inferred);
  EXPECT_EQ(derive_evidence(schema_id("quillane.evaluation.attested.v1"), reported), Evidence::Reported);
  const Evidence strong[] = {Evidence::Deterministic};
  EXPECT_EQ(derive_evidence(schema_id("quillane.candidate.v1"), strong), Evidence::Reported);
  const Evidence assumed[] = {Evidence::Assumed};
  EXPECT_EQ(derive_evidence(schema_id("quillane.candidate.v1"), assumed), Evidence::Assumed);
  EXPECT_EQ(derive_evidence(schema_id("quillane.candidate.v1"), {}), Evidence::Reported);
  EXPECT_TRUE(meets_threshold(Evidence::Reported, Evidence::Reported));
  EXPECT_TRUE(meets_threshold(Evidence::Verified, Evidence::Reported));
  EXPECT_FALSE(meets_threshold(Evidence::Assumed, Evidence::Reported));
}

}  // namespace
}  // namespace quillane
