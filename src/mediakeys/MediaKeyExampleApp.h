#pragma once
// The player's application object. Besides being the QApplication, it forwards the media
// keys that reach the player's own windows to the media key handler while the global tap
// is not in use (the setting "SPIgnoreMediaKeys", or no X11 tap possible), with a null
// tap. With the global tap in use it forwards nothing, so no key press is handled twice.
//
// Main thread only.

#include "mediakeys/MediaKeyEvent.h"

#include <QApplication>
#include <optional>

class QKeyEvent;

namespace sondrel {

class SPMediaKeyTapDelegate;

class MediaKeyExampleApp : public QApplication {
    Q_OBJECT

public:
    MediaKeyExampleApp(int& argc, char** argv);
    ~MediaKeyExampleApp() override;

    // The handler that forwarded keys go to (the main controller); not owned.
    void setMediaKeyDelegate(SPMediaKeyTapDelegate* delegate) { mediaKeyDelegate = delegate; }

    // sendEvent: every event the application dispatches passes here first.
    bool notify(QObject* receiver, QEvent* event) override;

    // The media key event for a Qt key event, or empty when it is not a media key.
    static std::optional<MediaKeyEvent> mediaKeyEventFromKeyEvent(const QKeyEvent& event);

private:
    SPMediaKeyTapDelegate* mediaKeyDelegate = nullptr;
};

} // namespace sondrel
