#pragma once
// The one-line texts the window shows when a request to the service did not bring what
// it asked for. The log keeps its own lines; these say the same to someone who does not
// read stderr, in words a user can act on.
//
// Pure functions; safe on any thread.

#include "platform/Network.h"
#include "service/ServiceAnswer.h"

#include <QString>
#include <optional>

namespace sondrel {

// Why a transfer brought no usable answer, or nothing when it completed (whatever its
// HTTP status: the answer's own text decides then).
std::optional<QString> transferProblem(const HttpResult& result);

// What went wrong with a list request, or nothing when its songs arrived. An expired
// token (error 5) gives nothing: the sign-in popover says it.
std::optional<QString> listProblem(const HttpResult& result, const SongListAnswer& answer);

} // namespace sondrel
