#pragma once
// The stream parser's fuzz body, shared by the libFuzzer target and the regular test run.

#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: byte 0 picks the file type hint (MP3, WAVE, AIFC, AIFF, ADTS); byte 1 the number
// of points to split the file at (0-15), then that many 16-bit offsets, a 16-bit
// packet number to seek to, and the file itself.
//
// The file is parsed three times: in one piece, in the chosen pieces (the same packets,
// properties and outcome must come out) and, once the parser is ready, from a seek to
// the packet (PCM must give exactly the bytes from there on). Every batch of packets
// must describe bytes inside the batch.
int fuzzStreamParser(const std::uint8_t* data, std::size_t size);

} // namespace sondrel::fuzz
