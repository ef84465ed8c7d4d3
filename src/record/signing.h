// Ed25519 signing of records over the domain-separated signing form, and
// strict verification.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/digest.h"
#include "base/result.h"
#include "record/record.h"

namespace quillane {

// One key pair derived from a 32-byte seed. The key material stays in this
// object: it is never printed, logged or encoded, and is wiped on destruction.
class Ed25519Signer {
 public:
  static Ed25519Signer from_secret_bytes(const std::array<std::uint8_t, 32>& seed);
  Ed25519Signer(const Ed25519Signer&);
  Ed25519Signer& operator=(const Ed25519Signer&);
  ~Ed25519Signer();

  const Digest& public_key() const { return public_key_; }
  // Pure Ed25519 signature of raw message bytes.
  std::array<std::uint8_t, 64> sign_message(std::string_view message) const;
  // Signs the record's signing form; the record's id and signature do not
  // influence the result. Fails only when the record cannot be encoded.
  Result<Signature> sign(const Record& record) const;

 private:
  Ed25519Signer() = default;
  std::array<std::uint8_t, 64> secret_{};  // seed followed by the public key
  Digest public_key_{};
};

// Strict Ed25519 verification of raw message bytes: a non-canonical s, a
// small-order R or key, or a key that is not a point all fail.
bool ed25519_verify(const Digest& key, std::string_view message, std::span<const std::uint8_t> sig);

// The public key the record was validly signed with; nothing for an unsigned
// record or any defect in the signature.
std::optional<Digest> verified_key(const Record& record);

}  // namespace quillane
