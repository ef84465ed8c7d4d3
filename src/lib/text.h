// Text helpers of the binding layer.
#pragma once

#include <string_view>

namespace quillane::py {

// Trims leading and trailing Unicode white space (UTF-8 encoded), as
// Python's str.strip() does.
std::string_view trim_unicode_space(std::string_view s);

}  // namespace quillane::py
