// AppController: the message line. It listens to what can fail where the user would
// otherwise see only an empty window or a signed-out start: the list requests (see
// AppControllerLists.cpp), the status.set requests (AppControllerStatus.cpp), the service
// information file, saving the settings, and fetching or decoding a song. Each failure shows its
// line; the same thing working again takes it away.

#include "platform/Dispatch.h"
#include "platform/ServiceConfig.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"
#include "shell/SettingsStore.h"
#include "window/AppController.h"
#include "window/StatusMessage.h"

namespace sondrel {

using Topic = StatusMessage::Topic;

void AppController::connectMessages() {
    if (const QString problem = serviceConfig().infoFileProblem; !problem.isEmpty()) {
        statusMessageObject->show(Topic::ServiceInfo, problem);
    }
    // Saves come from any thread; the line changes on the main thread.
    SettingsStore::standard().setSaveListener(
        [message = QPointer<StatusMessage>(statusMessageObject)](bool ok, const QString& error) {
            dispatchMain([message, ok, error] {
                if (!message) {
                    return;
                }
                if (ok) {
                    message->resolve(Topic::Settings);
                } else {
                    message->show(Topic::Settings,
                                  tr("The settings cannot be saved (%1)").arg(error));
                }
            });
        });
    const auto songFailed = [this](const QString& reason) {
        statusMessageObject->show(Topic::Playback, tr("The song cannot be played: %1").arg(reason));
    };
    connect(downloaderObject.get(), &SongDownloader::songTransferFailed, this, songFailed);
    connect(playerObject.get(), &SongPlayer::songCouldNotPlay, this, songFailed);
}

void AppController::disconnectMessages() {
    SettingsStore::standard().setSaveListener({});
}

void AppController::showListOutcome(const std::optional<QString>& problem) {
    if (problem) {
        // A refused information file is most often why the service cannot be found: the
        // line keeps saying so, not only what failed next.
        const QString infoProblem = serviceConfig().infoFileProblem;
        statusMessageObject->show(Topic::Service, infoProblem.isEmpty()
                                                      ? *problem
                                                      : *problem + QStringLiteral(" (") +
                                                            infoProblem + QLatin1Char(')'));
        return;
    }
    // The service answered with songs: whatever kept it away before is over.
    statusMessageObject->resolve(Topic::Service);
    statusMessageObject->resolve(Topic::ServiceInfo);
}

void AppController::showStatusOutcome(const std::optional<QString>& problem) {
    if (problem) {
        statusMessageObject->show(Topic::Status,
                                  tr("The status was not published: %1").arg(*problem));
    } else {
        statusMessageObject->resolve(Topic::Status);
    }
}

} // namespace sondrel
