#pragma once
// The sign-in's fuzz body, shared by the libFuzzer target and the regular test run.

#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: read as the address a sign-in load finished on (as text, and as the web view
// reports it after URL parsing) and as the bytes of a feed page. The token and user id
// read from the address must be pieces of it as the rules say; the feed page's logout
// link search must not fail on any page.
int fuzzSignIn(const std::uint8_t* data, std::size_t size);

} // namespace sondrel::fuzz
