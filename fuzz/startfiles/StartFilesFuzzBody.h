#pragma once
// The fuzz body of the files read at start, shared by the libFuzzer target and the
// regular test run.

#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: byte 0 picks the file (even: the settings file, odd: the stand-in service's
// information file); the rest is its contents, written to a private temp folder.
//
// Settings: a file that loads keeps its values through a save and a fresh load; a file
// that does not is moved aside byte for byte, never lost. Information file: the origins
// come out without a trailing "/" and every text value of the file is taken.
// Changes the process's environment (the service variables are removed).
int fuzzStartFiles(const std::uint8_t* data, std::size_t size);

} // namespace sondrel::fuzz
