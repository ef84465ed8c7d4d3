#include "log/writer/subject_builder.h"

#include "base/jcs_writer.h"
#include "base/schema.h"
#include "record/evidence.h"
#include "record/evolution_payloads.h"
#include "record/identity.h"

namespace quillane {

Result<Record> finish_subject(PendingRecord pending, std::uint64_t time, const State& state, const Prior& prior,
                              const Ed25519Signer* signer) {
  std::vector<Evidence> contributions;
  for (const Ref& ref : pending.refs) {
    const Record* target = prior.find(ref.target);
    if (target == nullptr) continue;
    if (auto e = ref_evidence(state, ref, *target)) contributions.push_back(*e);
  }
  Record subject;
  subject.evidence = derive_evidence(pending.schema, contributions);
  sort_and_dedup_refs(pending.refs);
  subject.author = std::move(pending.author);
  subject.data = std::move(pending.data);
  subject.refs = std::move(pending.refs);
  subject.space = pending.space;
  subject.thread = pending.thread;
  subject.schema = pending.schema;
  subject.kind = pending.kind;
  subject.time = time;
  if (signer != nullptr) {
    QL_ASSIGN(Signature signature, signer->sign(subject));
    subject.author.signature = std::move(signature);
  }
  return with_computed_id(std::move(subject));
}

Result<Record> materialize_verdict(const Record& subject, std::uint64_t time, Judgement judgement) {
  static const Digest kVerdictSchema = schema_id("quillane.verdict.v1");
  VerdictData data;
  data.result = judgement.accepted() ? VerdictResult::Accept : VerdictResult::Reject;
  if (!judgement.accepted()) data.reason = judgement.reason();
  QL_ASSIGN(std::string bytes, canonical_json(verdict_data_json(data)));
  Record verdict;
  verdict.author = Author{"verifier", AuthorType::Verifier, std::nullopt};
  verdict.kind = Kind::Verdict;
  verdict.schema = kVerdictSchema;
  verdict.data.assign(bytes.begin(), bytes.end());
  verdict.refs = {Ref{RefType::Cause, subject.id}};
  verdict.space = subject.space;
  verdict.thread = subject.thread;
  verdict.time = time;
  verdict.evidence = Evidence::Deterministic;
  return with_computed_id(std::move(verdict));
}

}  // namespace quillane
