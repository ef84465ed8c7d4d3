// A judgement is one byte: 255 for acceptance, otherwise the position of the
// rejecting ReasonCode in its declaration order.
#pragma once

#include <cstdint>

#include "record/enums.h"

namespace quillane {

class Judgement {
 public:
  static constexpr std::uint8_t kAcceptByte = 255;

  constexpr Judgement() = default;
  constexpr Judgement(ReasonCode reason) : byte_(static_cast<std::uint8_t>(reason)) {}
  static constexpr Judgement accept() { return {}; }

  constexpr bool accepted() const { return byte_ == kAcceptByte; }
  constexpr ReasonCode reason() const { return static_cast<ReasonCode>(byte_); }
  constexpr std::uint8_t byte() const { return byte_; }
  constexpr bool operator==(const Judgement&) const = default;

 private:
  std::uint8_t byte_ = kAcceptByte;
};

}  // namespace quillane

// Returns from the enclosing check when a sub-check rejects.
#define QL_JUDGE(expr)                                      \
  do {                                                      \
    const ::quillane::Judgement ql_judgement_ = (expr);     \
    if (!ql_judgement_.accepted()) return ql_judgement_;    \
  } while (0)
