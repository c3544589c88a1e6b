#pragma once
// The captcha picture: the captcha's key drawn in a blocky font on a 130x50 canvas,
// each letter nudged up or down, with some noise so it looks like a captcha. The
// picture depends only on the key and the sid, so it is the same on every fetch.

#include <string>

namespace standin {

inline constexpr int kCaptchaWidth = 130;
inline constexpr int kCaptchaHeight = 50;

// PNG bytes of the picture for `key` (letters of the captcha alphabet).
std::string renderCaptchaPng(const std::string& key, const std::string& sid);

} // namespace standin
