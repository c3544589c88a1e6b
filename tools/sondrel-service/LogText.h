#pragma once
// Texts for the --verbose log. A request target may carry an access token
// ("?access_token=..."): the log shows "<hidden>" in its place, as the player's own log
// does, so a log shared for a bug report gives no one the user's account.

#include <string>
#include <string_view>

namespace standin {

// `text` with the value after every "access_token=" (also percent-encoded as
// "access_token%3D", any letter case) replaced by "<hidden>", up to the next "&", "#",
// quote, space or bracket (or "%" in the encoded form).
std::string hideAccessTokens(std::string_view text);

} // namespace standin
