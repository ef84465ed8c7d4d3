// Small logs exported as receipts, for the receipt, validation and profile tests.
#pragma once

#include <string>
#include <vector>

#include "base/jcs_writer.h"
#include "base/strict_decoders.h"
#include "evolution_builders.h"
#include "log_fixture.h"
#include "receipt/receipt.h"

namespace quillane::test {

// A request, a reported and a manifest-bound root candidate, an evaluation
// and a selection; every subject accepted.
struct SampleLine {
  RecordId request, reported, manifest, eval, selection;
};

inline SampleLine sample_line(LogBuilder& log) {
  SampleLine l;
  l.request = log.accepted("quillane.request.v1", request_json());
  l.reported = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Root), {cause(l.request)});
  CandidateData bound = candidate(CandidateBasis::Root);
  bound.source.binding = BindingMode::Manifest;
  bound.source.manifest_hash = sha256_utf8("tree");
  l.manifest = log.accepted("quillane.candidate.v1", candidate_data_json(bound), {cause(l.request)});
  l.eval = log.accepted("quillane.evaluation.v1", evaluation_json(l.reported), {use(l.reported)}, "provider");
  l.selection = log.accepted("quillane.selection.v1", selection_json({l.reported}, std::vector<Digest>{l.reported}),
                             {use(l.eval), require(l.reported)});
  return l;
}

// After a sample line: a second evaluation, the retraction of the first
// (which makes the selection unsound), a continuation from the selection,
// and a reaffirmation that restores it.
struct Restoration {
  RecordId eval2, retraction, continuation, reaffirmation;
};

inline Restoration restore_after_retraction(LogBuilder& log, const SampleLine& l) {
  Restoration r;
  r.eval2 = log.accepted("quillane.evaluation.v1", evaluation_json(l.reported), {use(l.reported)}, "provider");
  r.retraction = log.accepted("quillane.retraction.v1", retraction_json(l.eval), {cause(l.eval)}, "provider");
  r.continuation = log.accepted("quillane.candidate.v1", candidate_json(CandidateBasis::Continuation, l.reported),
                                {cause(l.selection)});
  r.reaffirmation =
      log.accepted("quillane.selection.v1", selection_json({l.reported}, std::vector<Digest>{l.reported}),
                   {use(r.eval2), require(l.reported), replace(l.selection)});
  return r;
}

inline Receipt receipt_of(const LogBuilder& log) { return Receipt::make(log.records(), log.rules); }

inline std::string bytes_of(const Receipt& receipt) {
  auto bytes = receipt.to_bytes();
  EXPECT_TRUE(bytes.ok()) << (bytes.ok() ? "" : bytes.error().message);
  return bytes.ok() ? *bytes : std::string();
}

inline std::string sample_receipt_bytes() {
  LogBuilder log;
  sample_line(log);
  return bytes_of(receipt_of(log));
}

inline std::string digest_json_text(const Digest& d) { return *canonical_json(digest_json(d)); }

// "[n,n,...]" with `count` members.
inline std::string digest_text(int fill, std::size_t count = 32) {
  std::string s = "[";
  for (std::size_t i = 0; i < count; ++i) s += (i ? "," : "") + std::to_string(fill);
  return s + "]";
}

}  // namespace quillane::test
