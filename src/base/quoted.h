// The quoted form of an identifier in messages: double quotes, backslash
// escapes, and \u{..} for control and non-printable characters.
#pragma once

#include <string>
#include <string_view>

namespace quillane {

std::string quoted_form(std::string_view text);

}  // namespace quillane
