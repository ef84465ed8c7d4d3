// Shortest round-trip text of 64-bit floats.
#pragma once

#include <string>

namespace quillane {

// ECMAScript Number.prototype.toString form of a finite float.
std::string format_ecmascript(double x);

// Plain decimal notation without exponent, shortest digits that read back to
// x, with a minus sign when negative (used in error messages).
std::string format_plain_decimal(double x);

}  // namespace quillane
