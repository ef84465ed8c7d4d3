// SHA-256 digests and the operations over them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillane {

// 32 bytes: a SHA-256 output, a record id, a schema id or a public key.
using Digest = std::array<std::uint8_t, 32>;

Digest sha256(std::span<const std::uint8_t> bytes);
Digest sha256(std::string_view bytes);
inline Digest sha256_utf8(std::string_view text) { return sha256(text); }

// SHA-256 of the raw digests concatenated in order, with no separator.
Digest sha256_concat_ids(std::span<const Digest> ids);

// Streaming SHA-256 for inputs that arrive in pieces.
class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;
  void update(const void* data, std::size_t size);
  Digest finish();

 private:
  void* ctx_;
};

std::string hex_encode(const Digest& digest);
// Exactly 64 characters from 0-9 and a-f; anything else gives nothing.
std::optional<Digest> hex_decode(std::string_view text);

}  // namespace quillane
