// Request, Requirement, Candidate, Retraction and Verdict payloads.
#include "record/evolution_payloads.h"

#include <array>
#include <utility>

#include "base/strict_decoders.h"
#include "record/evolution_codec.h"

namespace quillane {
namespace {

Json text_json(const std::string& s) { return Json(s); }

Result<std::optional<std::string>> read_optional_text(JsonReader& r) {
  return read_optional<std::string>(r, read_text);
}

Result<std::optional<Digest>> read_optional_digest(JsonReader& r) { return read_optional<Digest>(r, read_digest); }

Result<Attachment> read_attachment(JsonReader& r) {
  static constexpr std::array<std::string_view, 2> kFields = {"path", "content"};
  Attachment a;
  FieldSet fields(kFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct Attachment", fields, [&](std::size_t i) -> Status {
    return i == 0 ? store(a.path, read_text(r)) : store(a.content, read_text(r));
  }));
  return a;
}

Json attachment_json(const Attachment& a) {
  JsonObject o;
  o.reserve(2);
  o.emplace_back("path", Json(a.path));
  o.emplace_back("content", Json(a.content));
  return Json(std::move(o));
}

Result<GitSource> read_git_source(JsonReader& r) {
  static constexpr std::array<std::string_view, 3> kFields = {"algo", "tree", "commit"};
  GitSource g;
  FieldSet fields(kFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct GitSource", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(g.algo, read_enum<SourceAlgo>(r));
      case 1: return store(g.tree, read_text(r));
      default: return store(g.commit, read_optional_text(r));
    }
  }));
  return g;
}

Json git_source_json(const GitSource& g) {
  JsonObject o;
  o.reserve(3);
  o.emplace_back("algo", enum_json(g.algo));
  o.emplace_back("tree", Json(g.tree));
  o.emplace_back("commit", optional_json(g.commit, text_json));
  return Json(std::move(o));
}

Result<SourceBinding> read_source_binding(JsonReader& r) {
  static constexpr std::array<std::string_view, 3> kFields = {"git", "manifest_hash", "binding"};
  SourceBinding s;
  FieldSet fields(kFields, 0b101);
  QL_TRY(read_fields(r, "struct SourceBinding", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(s.git, read_git_source(r));
      case 1: return store(s.manifest_hash, read_optional_digest(r));
      default: return store(s.binding, read_enum<BindingMode>(r));
    }
  }));
  return s;
}

Json source_binding_json(const SourceBinding& s) {
  JsonObject o;
  o.reserve(3);
  o.emplace_back("git", git_source_json(s.git));
  o.emplace_back("manifest_hash", optional_json(s.manifest_hash, digest_json));
  o.emplace_back("binding", enum_json(s.binding));
  return Json(std::move(o));
}

}  // namespace

// ---- RequestData ----

Result<RequestData> read_request_data(JsonReader& r) {
  static constexpr std::array<std::string_view, 4> kFields = {"objective", "scope", "attachments", "parent_request_id"};
  RequestData v;
  FieldSet fields(kFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct RequestData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.objective, read_text(r));
      case 1: return store(v.scope, read_digest(r));
      case 2: return store(v.attachments, read_list<Attachment>(r, read_attachment));
      default: return store(v.parent_request_id, read_optional_digest(r));
    }
  }));
  return v;
}

Result<RequestData> decode_request_data(std::string_view bytes) { return decode_whole(bytes, read_request_data); }

Json request_data_json(const RequestData& v) {
  JsonObject o;
  o.reserve(4);
  o.emplace_back("objective", Json(v.objective));
  o.emplace_back("scope", digest_json(v.scope));
  o.emplace_back("attachments", list_json(v.attachments, attachment_json));
  o.emplace_back("parent_request_id", optional_json(v.parent_request_id, digest_json));
  return Json(std::move(o));
}

// ---- RequirementData ----

Result<RequirementData> read_requirement_data(JsonReader& r) {
  static constexpr std::array<std::string_view, 5> kFields = {"key", "description", "required", "expected_evidence",
                                                   "provenance"};
  RequirementData v;
  FieldSet fields(kFields, 0b10111);
  QL_TRY(read_fields(r, "struct RequirementData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.key, read_text(r));
      case 1: return store(v.description, read_text(r));
      case 2: return store(v.required, r.read_bool("a boolean"));
      case 3: return store(v.expected_evidence, read_optional_text(r));
      default: return store(v.provenance, read_enum<Provenance>(r));
    }
  }));
  return v;
}

Result<RequirementData> decode_requirement_data(std::string_view bytes) {
  return decode_whole(bytes, read_requirement_data);
}

Json requirement_data_json(const RequirementData& v) {
  JsonObject o;
  o.reserve(5);
  o.emplace_back("key", Json(v.key));
  o.emplace_back("description", Json(v.description));
  o.emplace_back("required", Json(v.required));
  o.emplace_back("expected_evidence", optional_json(v.expected_evidence, text_json));
  o.emplace_back("provenance", enum_json(v.provenance));
  return Json(std::move(o));
}

// ---- CandidateData ----

Result<CandidateData> read_candidate_data(JsonReader& r) {
  static constexpr std::array<std::string_view, 5> kFields = {"source", "basis", "parent", "note", "artifacts"};
  CandidateData v;
  FieldSet fields(kFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct CandidateData", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(v.source, read_source_binding(r));
      case 1: return store(v.basis, read_enum<CandidateBasis>(r));
      case 2: return store(v.parent, read_optional_digest(r));
      case 3: return store(v.note, read_optional_text(r));
      default:
        return store(v.artifacts, read_optional<std::vector<ArtifactRef>>(r, [](JsonReader& in) {
                       return read_list<ArtifactRef>(in, read_artifact_ref);
                     }));
    }
  }));
  return v;
}

Result<CandidateData> decode_candidate_data(std::string_view bytes) { return decode_whole(bytes, read_candidate_data); }

Json candidate_data_json(const CandidateData& v) {
  JsonObject o;
  o.reserve(5);
  o.emplace_back("source", source_binding_json(v.source));
  o.emplace_back("basis", enum_json(v.basis));
  o.emplace_back("parent", optional_json(v.parent, digest_json));
  o.emplace_back("note", optional_json(v.note, text_json));
  // The one optional key that is left out, not written as null, when absent.
  if (v.artifacts) o.emplace_back("artifacts", list_json(*v.artifacts, artifact_ref_json));
  return Json(std::move(o));
}

// ---- RetractionData ----

Result<RetractionData> read_retraction_data(JsonReader& r) {
  static constexpr std::array<std::string_view, 2> kFields = {"target_id", "reason"};
  RetractionData v;
  FieldSet fields(kFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct RetractionData", fields, [&](std::size_t i) -> Status {
    return i == 0 ? store(v.target_id, read_digest(r)) : store(v.reason, read_text(r));
  }));
  return v;
}

Result<RetractionData> decode_retraction_data(std::string_view bytes) {
  return decode_whole(bytes, read_retraction_data);
}

Json retraction_data_json(const RetractionData& v) {
  JsonObject o;
  o.reserve(2);
  o.emplace_back("target_id", digest_json(v.target_id));
  o.emplace_back("reason", Json(v.reason));
  return Json(std::move(o));
}

// ---- VerdictData ----

Result<VerdictData> read_verdict_data(JsonReader& r) {
  static constexpr std::array<std::string_view, 2> kFields = {"result", "reason"};
  VerdictData v;
  FieldSet fields(kFields, FieldSet::first(1));
  QL_TRY(read_fields(r, "struct VerdictData", fields, [&](std::size_t i) -> Status {
    return i == 0 ? store(v.result, read_enum<VerdictResult>(r))
                  : store(v.reason, read_optional<ReasonCode>(r, read_enum<ReasonCode>));
  }));
  return v;
}

Result<VerdictData> decode_verdict_data(std::string_view bytes) { return decode_whole(bytes, read_verdict_data); }

Json verdict_data_json(const VerdictData& v) {
  JsonObject o;
  o.reserve(2);
  o.emplace_back("result", enum_json(v.result));
  o.emplace_back("reason", optional_json(v.reason, enum_json<ReasonCode>));
  return Json(std::move(o));
}

}  // namespace quillane
