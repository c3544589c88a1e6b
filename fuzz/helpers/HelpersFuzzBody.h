#pragma once
// The common helpers' fuzz body, shared by the libFuzzer target and the regular test run.

#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: the first byte picks nothing (all helpers run on every input); the bytes are
// read as UTF-8 text (and raw bytes) and split at the first two NULs into text, start
// marker and end marker.
int fuzzCommonHelpers(const std::uint8_t* data, std::size_t size);

} // namespace sondrel::fuzz
