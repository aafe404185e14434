#pragma once
// The wildcard test that ends a wait on a link: "?" one character, "*" any run, "#" one digit,
// "[a-z]" one of a list, "[!0-9]" one not in it. The pattern may match anywhere in the data.

#include <string_view>

namespace tollan {

// True when some part of `data` matches `pattern`; an empty pattern matches any data that is not empty.
bool Link_Matches(std::string_view pattern, std::string_view data);

} // namespace tollan
