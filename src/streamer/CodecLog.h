#pragma once
// Sends the codec library's (FFmpeg's) own messages through the player's log instead of
// straight to stderr: warnings and errors only, one line each, prefixed "FFmpeg: " and
// with what it names ("[aac @ 0x…]"). Its informational chatter is dropped.
//
// Idempotent and thread-safe; call before the first use of the library.

namespace sondrel {

void routeCodecLogToPlayerLog();

} // namespace sondrel
