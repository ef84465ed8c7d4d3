#include "base/digest.h"

#include <openssl/evp.h>

#include <new>

namespace quillane {
namespace {

// One digest context per thread, reused: creating a context per call costs
// more than hashing the short inputs that ids and index keys are made of.
struct ThreadContext {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~ThreadContext() { EVP_MD_CTX_free(ctx); }
};

EVP_MD_CTX* thread_context() {
  thread_local ThreadContext holder;
  if (holder.ctx == nullptr) throw std::bad_alloc();
  return holder.ctx;
}

}  // namespace

Digest sha256(std::span<const std::uint8_t> bytes) {
  EVP_MD_CTX* ctx = thread_context();
  Digest out{};
  EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
  EVP_DigestUpdate(ctx, bytes.data(), bytes.size());
  EVP_DigestFinal_ex(ctx, out.data(), nullptr);
  return out;
}

Digest sha256(std::string_view bytes) {
  return sha256(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

Digest sha256_concat_ids(std::span<const Digest> ids) {
  EVP_MD_CTX* ctx = thread_context();
  Digest out{};
  EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
  for (const Digest& id : ids) EVP_DigestUpdate(ctx, id.data(), id.size());
  EVP_DigestFinal_ex(ctx, out.data(), nullptr);
  return out;
}

Sha256Stream::Sha256Stream() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr) throw std::bad_alloc();
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr);
}

Sha256Stream::~Sha256Stream() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Sha256Stream::update(const void* data, std::size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}

Digest Sha256Stream::finish() {
  Digest out{};
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out.data(), nullptr);
  return out;
}

std::string hex_encode(const Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(64, '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return out;
}

std::optional<Digest> hex_decode(std::string_view text) {
  if (text.size() != 64) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  Digest out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return out;
}

}  // namespace quillane
