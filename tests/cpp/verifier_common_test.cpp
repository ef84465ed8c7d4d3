// The checks every record goes through, in order.
#include <gtest/gtest.h>

#include "evolution_builders.h"
#include "log_fixture.h"
#include "record/identity.h"
#include "record/signing.h"

namespace quillane {
namespace {

using namespace test;

std::array<std::uint8_t, 32> seed(std::uint8_t b) {
  std::array<std::uint8_t, 32> s;
  s.fill(b);
  return s;
}

// Re-signs (when signed) and re-computes the id after a test edits a record.
Record reseal(Record r, const Ed25519Signer* signer = nullptr) {
  if (signer) r.author.signature = *signer->sign(r);
  return *with_computed_id(std::move(r));
}

TEST(VerifierCommon, OrderOfTheFirstChecks) {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(request)});

  struct Case {
    const char* name;
    std::function<Record(Record)> edit;
    ReasonCode expected;
  };
  const Case cases[] = {
      {"stale id", [](Record r) { r.id[0] ^= 1; return r; }, ReasonCode::InvalidPayload},
      {"refs out of order",
       [&](Record r) {
         r.refs = {use(root), cause(request)};
         return reseal(r);
       },
       ReasonCode::InvalidPayload},
      {"repeated ref",
       [&](Record r) {
         r.refs = {use(root), use(root)};
         r.schema = Digest{};  // would be UnknownSchema if the order check did not come first
         return reseal(r);
       },
       ReasonCode::InvalidPayload},
      {"other space", [](Record r) { r.space[0] ^= 1; return reseal(r); }, ReasonCode::InvalidPayload},
      {"unknown schema", [](Record r) { r.schema = Digest{}; return reseal(r); }, ReasonCode::UnknownSchema},
      {"schema of another kind",
       [](Record r) {
         r.schema = schema_id("quillane.request.v1");
         return reseal(r);
       },
       ReasonCode::KindSchemaMismatch},
      {"author type not allowed",
       [](Record r) {
         r.author = Author{"verifier", AuthorType::Verifier, std::nullopt};
         return reseal(r);
       },
       ReasonCode::AuthorRoleInvalid},
      {"role differs from binding",
       [](Record r) {
         r.author.type = AuthorType::User;  // "provider" is bound to Provider
         return reseal(r);
       },
       ReasonCode::AuthorRoleInvalid},
      {"unbound author",
       [](Record r) {
         r.author.id = "mallory";
         return reseal(r);
       },
       ReasonCode::AuthorRoleInvalid},
      {"unresolved ref",
       [](Record r) {
         r.refs = {use(sha256_utf8("nowhere"))};
         return reseal(r);
       },
       ReasonCode::RefUnresolved},
  };
  const Record base = log.finish(log.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Root)));
  ASSERT_TRUE(log.judge(base).accepted());
  for (const auto& c : cases) EXPECT_EQ(judgement_name(log.judge(c.edit(base))), name_of(c.expected)) << c.name;
}

TEST(VerifierCommon, Signatures) {
  const auto pinned = Ed25519Signer::from_secret_bytes(seed(1));
  const auto stranger = Ed25519Signer::from_secret_bytes(seed(2));
  VerifierRules rules = test_rules();
  rules.author_keys["provider"] = {pinned.public_key()};
  LogBuilder log(rules);
  log.accepted("quillane.request.v1", request_json());
  auto candidate = [&] { return log.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Root)); };
  auto judged = [&](PendingRecord p, const Ed25519Signer* s) { return judgement_name(log.judge(log.finish(p, s))); };

  EXPECT_EQ(judged(candidate(), nullptr), "SignatureMissing");  // pinned author, kind not required
  EXPECT_EQ(judged(candidate(), &stranger), "SignatureInvalid");  // valid signature, key not pinned
  EXPECT_EQ(judged(candidate(), &pinned), "Accept");

  // An unpinned author: a present signature is always verified.
  PendingRecord by_system = log.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {}, "system");
  Record tampered = log.finish(by_system, &stranger);
  tampered.author.signature->sig[0] ^= 1;
  EXPECT_EQ(judgement_name(log.judge(reseal(tampered))), "SignatureInvalid");
  EXPECT_EQ(judged(by_system, &stranger), "Accept");

  // A kind that must be signed.
  log.rules.signature_required_kinds = {Kind::Candidate};
  EXPECT_EQ(judged(by_system, nullptr), "SignatureMissing");
}

TEST(VerifierCommon, ReferencesAndEvidence) {
  LogBuilder log;
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(request)});
  const RecordId eval = log.accepted("quillane.evaluation.v1", evaluation_json(root), {use(root)}, "provider");
  log.accepted("quillane.retraction.v1", retraction_json(eval), {cause(eval)}, "provider");

  // A Require to a retracted record is unresolved.
  Record requires_retracted = log.finish(log.pending("quillane.candidate.v1",
                                                     candidate_json(CandidateBasis::Derivation), {cause(root), require(eval)}));
  EXPECT_EQ(judgement_name(log.judge(requires_retracted)), "RefUnresolved");

  // A Use lowers the class to Assumed: stating Reported is InvalidPayload,
  // stating Assumed falls below the Reported threshold.
  Record uses_retracted = log.finish(
      log.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Derivation), {cause(root), use(eval)}));
  EXPECT_EQ(uses_retracted.evidence, Evidence::Assumed);
  EXPECT_EQ(judgement_name(log.judge(uses_retracted)), "EvidenceBelowThreshold");
  uses_retracted.evidence = Evidence::Reported;
  EXPECT_EQ(judgement_name(log.judge(reseal(uses_retracted))), "InvalidPayload");
  log.rules.evidence_thresholds.erase(Kind::Candidate);
  EXPECT_EQ(judgement_name(log.judge(log.finish(log.pending(
                "quillane.candidate.v1", candidate_json(CandidateBasis::Derivation), {cause(root), use(eval)})))),
            "Accept");

  // Cause references carry no evidence.
  Record caused = log.finish(log.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Derivation),
                                         {cause(root), cause(eval)}));
  EXPECT_EQ(caused.evidence, Evidence::Reported);

  // A record of another space cannot be referenced.
  Record foreign = log.finish(log.pending("quillane.request.v1", request_json("elsewhere")));
  foreign.space = sha256_utf8("other");
  foreign.thread = foreign.space;
  foreign = reseal(foreign);
  LogBuilder other(log.rules);
  other.rules.space = foreign.space;
  other.append(foreign);
  // Splice the foreign record into this log's prior records through a log
  // that knows both spaces: judged under this log's rules it is cross-space.
  LogBuilder mixed(log.rules);
  const RecordId local = mixed.accepted("quillane.request.v1", request_json());
  (void)local;
  Record foreign_here = foreign;
  foreign_here.time = mixed.next_time();
  foreign_here = reseal(foreign_here);
  mixed.append(foreign_here);  // rejected (space), but now a prior record
  Record refers = mixed.finish(mixed.pending("quillane.candidate.v1", candidate_json(CandidateBasis::Derivation),
                                             {cause(foreign_here.id)}));
  EXPECT_EQ(judgement_name(mixed.judge(refers)), "RefCrossSpace");
}

TEST(VerifierCommon, Replacement) {
  LogBuilder log;
  CapabilityData cap;
  cap.actor_id = "provider";
  cap.action_class = "deploy";
  cap.scope = test_space();
  cap.mode = CapabilityMode::Auto;
  const RecordId first = log.accepted("quillane.capability.v1", capability_data_json(cap));
  const RecordId request = log.accepted("quillane.request.v1", request_json());
  const RecordId root = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(request)});

  CapabilityData other_mode = cap;
  other_mode.mode = CapabilityMode::Ask;
  CapabilityData other_class = cap;
  other_class.action_class = "delete";
  auto judge = [&](std::string_view schema, const Json& payload, std::vector<Ref> refs) {
    return judgement_name(log.judge(log.finish(log.pending(schema, payload, std::move(refs)))));
  };
  EXPECT_EQ(judge("quillane.capability.v1", capability_data_json(other_mode), {replace(first)}), "Accept");
  EXPECT_EQ(judge("quillane.capability.v1", capability_data_json(other_class), {replace(first)}), "ReplacementInvalid");
  EXPECT_EQ(judge("quillane.capability.v1", capability_data_json(other_mode), {replace(request)}), "ReplacementInvalid");
  EXPECT_EQ(judge("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {replace(root)}), "ReplacementInvalid");
  const RecordId second = log.accepted("quillane.capability.v1", capability_data_json(other_mode), {replace(first)});
  EXPECT_EQ(judge("quillane.capability.v1", capability_data_json(cap), {replace(first), replace(second)}),
            "InvalidPayload");
}

TEST(VerifierCommon, PayloadMustBeCanonical) {
  LogBuilder log;
  auto judge_bytes = [&](const std::string& text) {
    PendingRecord p = log.pending("quillane.request.v1", request_json());
    p.data.assign(text.begin(), text.end());
    return judgement_name(log.judge(log.finish(p)));
  };
  const std::string canonical(reinterpret_cast<const char*>(canonical_bytes(request_json()).data()),
                              canonical_bytes(request_json()).size());
  EXPECT_EQ(judge_bytes(canonical), "Accept");
  EXPECT_EQ(judge_bytes(canonical + " "), "InvalidPayload");
  EXPECT_EQ(judge_bytes("{\"scope\"" + canonical.substr(canonical.find(":[")) ), "InvalidPayload");
  EXPECT_EQ(judge_bytes("not json"), "InvalidPayload");

  // A schema the rules map but no payload structure knows.
  log.rules.kind_schema_map[sha256_utf8("quillane.request.v9")] = Kind::Request;
  PendingRecord p = log.pending("quillane.request.v1", request_json());
  p.schema = sha256_utf8("quillane.request.v9");
  EXPECT_EQ(judgement_name(log.judge(log.finish(p))), "UnknownSchema");
}

}  // namespace
}  // namespace quillane
