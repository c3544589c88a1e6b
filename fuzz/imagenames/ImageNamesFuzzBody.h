#pragma once
// The image cache's file names' fuzz body, shared by the libFuzzer target and the
// regular test run.

#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: byte 0 picks the screen (odd: device pixel ratio 2), then a picture address and
// a name prefix separated by the first NUL (both come from the service). Every file name
// the cache makes for them must name one file directly inside its "imagesCache" folder:
// checked on the path and by creating the file in a private cache folder. Sets
// XDG_CACHE_HOME for the process on first use.
int fuzzImageNames(const std::uint8_t* data, std::size_t size);

} // namespace sondrel::fuzz
