#include "record/signing.h"

#include <sodium.h>

#include <stdexcept>

#include "base/jcs_writer.h"
#include "record/identity.h"

namespace quillane {
namespace {

void ensure_sodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw std::runtime_error("libsodium failed to initialise");
}

}  // namespace

Ed25519Signer Ed25519Signer::from_secret_bytes(const std::array<std::uint8_t, 32>& seed) {
  ensure_sodium();
  Ed25519Signer signer;
  crypto_sign_seed_keypair(signer.public_key_.data(), signer.secret_.data(), seed.data());
  return signer;
}

Ed25519Signer::Ed25519Signer(const Ed25519Signer&) = default;
Ed25519Signer& Ed25519Signer::operator=(const Ed25519Signer&) = default;
Ed25519Signer::~Ed25519Signer() { sodium_memzero(secret_.data(), secret_.size()); }

std::array<std::uint8_t, 64> Ed25519Signer::sign_message(std::string_view message) const {
  std::array<std::uint8_t, 64> sig{};
  crypto_sign_detached(sig.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       secret_.data());
  return sig;
}

Result<Signature> Ed25519Signer::sign(const Record& record) const {
  QL_ASSIGN(std::string message, canonical_json(signing_form(record)));
  const auto sig = sign_message(message);
  return Signature{hex_encode(public_key_), Bytes(sig.begin(), sig.end())};
}

bool ed25519_verify(const Digest& key, std::string_view message, std::span<const std::uint8_t> sig) {
  if (sig.size() != crypto_sign_BYTES) return false;
  ensure_sodium();
  return crypto_sign_verify_detached(sig.data(), reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), key.data()) == 0;
}

std::optional<Digest> verified_key(const Record& record) {
  const auto& signature = record.author.signature;
  if (!signature || signature->key_id.size() != 64) return std::nullopt;
  auto key = hex_decode(signature->key_id);
  if (!key || signature->sig.size() != crypto_sign_BYTES) return std::nullopt;
  auto message = canonical_json(signing_form(record));
  if (!message) return std::nullopt;
  if (!ed25519_verify(*key, *message, signature->sig)) return std::nullopt;
  return *key;
}

}  // namespace quillane
