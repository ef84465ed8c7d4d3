#include "receipt/receipt.h"

#include <array>

#include "base/jcs_writer.h"
#include "base/strict_decoders.h"

namespace quillane {
namespace {

// Declaration order: the order the unknown-field message lists them in.
constexpr std::array<std::string_view, 4> kReceiptFields = {"spec_version", "profiles", "rules", "records"};
constexpr std::uint64_t kReceiptRequired = 0b1101;  // all but `profiles`
constexpr std::array<std::string_view, 3> kProfileRefFields = {"id", "version", "hash"};

Result<std::uint32_t> read_u32(JsonReader& r) {
  QL_ASSIGN(std::uint64_t n, r.read_unsigned(UINT32_MAX, "u32"));
  return static_cast<std::uint32_t>(n);
}

}  // namespace

Json profile_ref_json(const ProfileRef& ref) {
  JsonObject o;
  o.reserve(kProfileRefFields.size());
  o.emplace_back("id", Json(ref.id));
  o.emplace_back("version", Json(ref.version));
  o.emplace_back("hash", digest_json(ref.hash));
  return Json(std::move(o));
}

Result<ProfileRef> read_profile_ref(JsonReader& r) {
  ProfileRef ref;
  FieldSet fields(kProfileRefFields, FieldSet::first(kProfileRefFields.size()));
  QL_TRY(read_fields(r, "struct ProfileRef", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(ref.id, read_text(r));
      case 1: return store(ref.version, read_u32(r));
      default: return store(ref.hash, read_digest(r));
    }
  }));
  return ref;
}

Receipt Receipt::make(std::span<const Record> records, const VerifierRules& rules) {
  return make(std::vector<Record>(records.begin(), records.end()), rules);
}

Receipt Receipt::make(std::vector<Record>&& records, const VerifierRules& rules) {
  Receipt receipt;
  receipt.spec_version = std::string(kReceiptSpecVersion);
  receipt.rules = rules;
  receipt.records = std::move(records);
  return receipt;
}

// The members are written in canonical (sorted) order one value at a time,
// so a large log never becomes one value tree: profiles, records, rules,
// spec_version.
Result<std::string> Receipt::to_bytes() const {
  std::string out = "{";
  if (!profiles.empty()) {
    out += "\"profiles\":[";
    for (std::size_t i = 0; i < profiles.size(); ++i) {
      if (i) out += ',';
      QL_TRY(write_jcs(profile_ref_json(profiles[i]), out));
    }
    out += "],";
  }
  out += "\"records\":[";
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i) out += ',';
    QL_TRY(write_jcs(record_json(records[i]), out));
  }
  out += "],\"rules\":";
  QL_TRY(write_jcs(rules_json(rules), out));
  out += ",\"spec_version\":";
  write_string(spec_version, out);
  out += '}';
  return out;
}

// Records are decoded straight from the text into their structures; no
// generic value tree of the document is built.
Result<Receipt> Receipt::from_bytes(std::string_view bytes) {
  JsonReader r(bytes);
  Receipt receipt;
  FieldSet fields(kReceiptFields, kReceiptRequired);
  QL_TRY(read_fields(r, "struct Receipt", fields, [&](std::size_t i) -> Status {
    switch (i) {
      case 0: return store(receipt.spec_version, read_text(r));
      case 1: return store(receipt.profiles, read_list<ProfileRef>(r, read_profile_ref));
      case 2: return store(receipt.rules, read_rules(r));
      default: return store(receipt.records, read_list<Record>(r, read_record));
    }
  }));
  QL_TRY(r.finish());
  return receipt;
}

}  // namespace quillane
