// The record envelope: identity, space, thread, logical time, author, kind,
// schema, typed references and evidence class around an opaque payload.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/digest.h"
#include "base/json_reader.h"
#include "base/json_value.h"
#include "base/result.h"
#include "record/enums.h"

namespace quillane {

using RecordId = Digest;
using Bytes = std::vector<std::uint8_t>;

struct Signature {
  std::string key_id;  // lower-case hex of the signer's public key
  Bytes sig;           // 64 bytes when well formed; not checked at decoding
  bool operator==(const Signature&) const = default;
};

struct Author {
  std::string id;
  AuthorType type = AuthorType::User;
  std::optional<Signature> signature;  // none: unsigned
  bool operator==(const Author&) const = default;
};

struct Ref {
  RefType type = RefType::Cause;
  RecordId target{};
  bool operator==(const Ref&) const = default;
  // RefType declaration order, then target bytes.
  std::strong_ordering operator<=>(const Ref&) const = default;
};

struct Record {
  RecordId id{};
  Digest space{};
  Digest thread{};
  std::uint64_t time = 0;
  Author author;
  Kind kind = Kind::Request;
  Digest schema{};
  Bytes data;
  std::vector<Ref> refs;
  Evidence evidence = Evidence::Assumed;
  bool operator==(const Record&) const = default;

  // The payload bytes as text (they are the payload's canonical JSON).
  std::string_view payload_json() const {
    return {reinterpret_cast<const char*>(data.data()), data.size()};
  }
};

// The author types that may author each kind, in table order.
std::span<const AuthorType> allowed_author_types(Kind kind);

Result<Record> read_record(JsonReader& r);
Result<Record> decode_record(std::string_view text);

Json signature_json(const Signature& signature);
Json ref_json(const Ref& ref);
// How the author's signature is written: as null when unsigned (the
// envelope), only when signed (the id form), or never (the signing form).
enum class SignatureForm { NullWhenUnsigned, OnlyWhenSigned, Never };
// Every member but `id`, in declaration order.
JsonObject record_members(const Record& record, SignatureForm form);

// The envelope with author.signature written as null when unsigned.
Json record_json(const Record& record);
// Canonical bytes of the record (log frames, receipts).
Result<std::string> encode_record(const Record& record);

}  // namespace quillane
