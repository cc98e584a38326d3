// The fixed sub-patterns that a backslash and a letter stand for.
#pragma once

#include <string_view>

namespace sentrel::pattern::detail {

// The sub-pattern of `\` followed by `letter`, written in the pattern dialect,
// or an empty view when `letter` is not one of the nine abbreviation letters
// (a, b, c, d, h, n, q, w, z). The sub-patterns contain no backslash and no
// match group.
std::string_view Abbreviation(unsigned char letter);

}  // namespace sentrel::pattern::detail
