#include "record/record.h"

#include <array>

#include "base/jcs_writer.h"
#include "base/strict_decoders.h"

namespace quillane {
namespace {

constexpr std::array<std::string_view, 10> kRecordFields = {"id",     "space", "thread", "time", "author",
                                                            "kind",   "schema", "data",  "refs", "evidence"};
constexpr std::array<std::string_view, 3> kAuthorFields = {"id", "type", "signature"};
constexpr std::array<std::string_view, 2> kSignatureFields = {"key_id", "sig"};
constexpr std::array<std::string_view, 2> kRefFields = {"type", "target"};

using enum AuthorType;
constexpr AuthorType kRequestAuthors[] = {User};
constexpr AuthorType kProviderOnly[] = {Provider};
constexpr AuthorType kExecutorOnly[] = {Executor};
constexpr AuthorType kUserSystem[] = {User, System};
constexpr AuthorType kProviderSystem[] = {Provider, System};
constexpr AuthorType kVerifierOnly[] = {Verifier};
constexpr AuthorType kUserProviderSystem[] = {User, Provider, System};
constexpr AuthorType kAllButVerifier[] = {User, Provider, Executor, System};

Result<Bytes> read_byte_string(JsonReader& r) { return r.read_bytes("a byte array"); }

Result<Signature> read_signature(JsonReader& r) {
  Signature s;
  FieldSet fields(kSignatureFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct Signature", fields, [&](std::size_t i) -> Status {
    return i == 0 ? store(s.key_id, read_text(r)) : store(s.sig, read_byte_string(r));
  }));
  return s;
}

Result<Author> read_author(JsonReader& r) {
  Author a;
  FieldSet fields(kAuthorFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct Author", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(a.id, read_text(r));
      case 1: return store(a.type, read_enum<AuthorType>(r));
      default: return store(a.signature, read_optional<Signature>(r, read_signature));
    }
  }));
  return a;
}

Result<Ref> read_ref(JsonReader& r) {
  Ref ref;
  FieldSet fields(kRefFields, FieldSet::first(2));
  QL_TRY(read_fields(r, "struct Ref", fields, [&](std::size_t i) -> Status {
    return i == 0 ? store(ref.type, read_enum<RefType>(r)) : store(ref.target, read_digest(r));
  }));
  return ref;
}

Result<std::uint64_t> read_u64(JsonReader& r) { return r.read_unsigned(UINT64_MAX, "u64"); }

}  // namespace

std::span<const AuthorType> allowed_author_types(Kind kind) {
  switch (kind) {
    case Kind::Request: return kRequestAuthors;
    case Kind::Action: return kProviderOnly;
    case Kind::Response: return kProviderOnly;
    case Kind::Result: return kExecutorOnly;
    case Kind::Summary: return kProviderOnly;
    case Kind::Approval: return kRequestAuthors;
    case Kind::Capability: return kUserSystem;
    case Kind::Usage: return kProviderSystem;
    case Kind::Refusal: return kUserSystem;
    case Kind::Verdict: return kVerifierOnly;
    case Kind::Plan: return kProviderOnly;
    case Kind::Retraction: return kUserProviderSystem;
    case Kind::Candidate: return kAllButVerifier;
    case Kind::Evaluation: return kAllButVerifier;
    case Kind::Selection: return kUserProviderSystem;
    case Kind::Requirement: return kUserProviderSystem;
  }
  return {};
}

Result<Record> read_record(JsonReader& r) {
  Record rec;
  FieldSet fields(kRecordFields, FieldSet::first(kRecordFields.size()));
  QL_TRY(read_fields(r, "struct Record", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(rec.id, read_digest(r));
      case 1: return store(rec.space, read_digest(r));
      case 2: return store(rec.thread, read_digest(r));
      case 3: return store(rec.time, read_u64(r));
      case 4: return store(rec.author, read_author(r));
      case 5: return store(rec.kind, read_enum<Kind>(r));
      case 6: return store(rec.schema, read_digest(r));
      case 7: return store(rec.data, read_byte_string(r));
      case 8: return store(rec.refs, read_list<Ref>(r, read_ref));
      default: return store(rec.evidence, read_enum<Evidence>(r));
    }
  }));
  return rec;
}

Result<Record> decode_record(std::string_view text) { return decode_whole(text, read_record); }

Json signature_json(const Signature& signature) {
  JsonObject o;
  o.emplace_back("key_id", Json(signature.key_id));
  o.emplace_back("sig", bytes_json(signature.sig));
  return Json(std::move(o));
}

Json ref_json(const Ref& ref) {
  JsonObject o;
  o.emplace_back("type", enum_json(ref.type));
  o.emplace_back("target", digest_json(ref.target));
  return Json(std::move(o));
}

JsonObject record_members(const Record& record, SignatureForm form) {
  JsonObject author;
  author.emplace_back("id", Json(record.author.id));
  author.emplace_back("type", enum_json(record.author.type));
  if (form == SignatureForm::NullWhenUnsigned || (form == SignatureForm::OnlyWhenSigned && record.author.signature))
    author.emplace_back("signature", optional_json(record.author.signature, signature_json));
  JsonObject o;
  o.reserve(kRecordFields.size());
  o.emplace_back("space", digest_json(record.space));
  o.emplace_back("thread", digest_json(record.thread));
  o.emplace_back("time", Json(record.time));
  o.emplace_back("author", Json(std::move(author)));
  o.emplace_back("kind", enum_json(record.kind));
  o.emplace_back("schema", digest_json(record.schema));
  o.emplace_back("data", bytes_json(record.data));
  o.emplace_back("refs", list_json(record.refs, ref_json));
  o.emplace_back("evidence", enum_json(record.evidence));
  return o;
}

Json record_json(const Record& record) {
  JsonObject o = record_members(record, SignatureForm::NullWhenUnsigned);
  o.emplace_back("id", digest_json(record.id));
  return Json(std::move(o));
}

Result<std::string> encode_record(const Record& record) { return canonical_json(record_json(record)); }

}  // namespace quillane
