// AppController: the entry points of sign-in and status broadcast.
//
// Until the sign-in flow is part of the player, start-up signs in with the stored token:
// checkAuth requests the own list with it, and an expired token (error 5) only logs the
// check's line and leaves the window as it is. The status broadcast does nothing yet;
// its switch is restored at start (repairControls).

#include "window/AppController.h"

namespace sondrel {

void AppController::checkAuth() {
    downloadPlaylistWithURL(URLAllMyAudio());
}

void AppController::didAuthorize() {
    // The sign-in popover with the service's authorization page opens here.
}

void AppController::setCurrentPlayingInProfileStatus(bool /*playing*/) {
    // Publishing the song as the profile status (and clearing it) happens here.
}

} // namespace sondrel
