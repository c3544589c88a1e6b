#pragma once
// The audio player's fuzz body, shared by the libFuzzer target and the regular test run.

#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: byte 0 holds the number of steps (low 3 bits, plus one) and whether the
// transfer announces its whole length (bit 7); then per step a 16-bit count of bytes to
// append, an action (seek, play, stop, pause) and where to seek to (a fraction of the
// duration, up to a little beyond its end); the rest is the song.
//
// The song's buffer grows by the steps' counts (a fresh player is tried after
// each step until one opens) and the actions run in between with the null
// output; whatever the bytes, times stay finite, a stopped player seeks no further than
// the duration, a duration once known never drops back to 0, and nothing crashes. Needs
// a Qt application object (made when there is none).
int fuzzAudioPlayer(const std::uint8_t* data, std::size_t size);

} // namespace sondrel::fuzz
