// The canonical JSON writer (RFC 8785 with the I-JSON number range enforced)
// and the plain writer (same text, object members in insertion order).
#pragma once

#include <string>
#include <string_view>

#include "base/json_value.h"
#include "base/result.h"

namespace quillane {

inline constexpr std::uint64_t kMaxSafeInteger = 9007199254740991ULL;

// Appends the canonical text of `node` to `out`. On failure `out` may hold a
// partial text; canonical_json discards it.
Status write_jcs(const Json& node, std::string& out);

// Appends one JSON string literal; `text` must be valid UTF-8.
void write_string(std::string_view text, std::string& out);

// Canonical bytes of a value tree.
Result<std::string> canonical_json(const Json& node);

// Compact text with object members in insertion order (numbers and strings
// written as in the canonical form).
Result<std::string> plain_json(const Json& node);

// UTF-16 code-unit order of two UTF-8 strings, as the canonical form sorts keys.
bool utf16_less(std::string_view a, std::string_view b);

}  // namespace quillane
