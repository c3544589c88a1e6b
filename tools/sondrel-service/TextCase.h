#pragma once
// Text of the service: case-insensitive matching for the search method, and valid
// UTF-8 for the JSON answers. Search queries arrive in any script the library holds;
// Latin (with its accented letters), Greek and Cyrillic are folded to lower case,
// everything else is compared as is. Invalid UTF-8 bytes are kept unchanged, so a
// broken query still matches itself.

#include <string>
#include <string_view>

namespace standin {

std::string lowerUtf8(std::string_view text);

// True when `needle`, case-folded, occurs in `haystack`, case-folded.
bool containsFolded(std::string_view haystack, std::string_view needle);

// `text` with every byte that is not part of valid UTF-8 replaced by U+FFFD (a file
// name in another encoding, say), so that a JSON answer stays readable.
std::string validUtf8(std::string_view text);

} // namespace standin
