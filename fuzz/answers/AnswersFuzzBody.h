#pragma once
// The service answers' fuzz body, shared by the libFuzzer target and the regular test run.

#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: the bytes of one answer. Every reader runs on it: the list answer, the shared
// error check, the status.set answer's captcha demand; the readers must agree with each
// other, and a captcha demand must not be able to send the token anywhere else.
int fuzzServiceAnswers(const std::uint8_t* data, std::size_t size);

} // namespace sondrel::fuzz
