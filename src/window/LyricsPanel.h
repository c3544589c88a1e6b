#pragma once
// The lyrics side panel: a toggle ("Lyrics", Ctrl+L, in the Controls menu) and a panel
// docked at the window's right edge that shows the current song's lyrics, or "No lyrics".
// It owns its LyricsFetcher. The panel's widgets are made the first time it is shown, so
// a start pays only for the toggle.
//
// Threading: main thread only.

#include "service/LyricsFetcher.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QAction;
class QDockWidget;
class QMainWindow;
class QMenu;
class QPlainTextEdit;

namespace sondrel {

class LyricsPanel : public QObject {
    Q_OBJECT

public:
    static inline const QString kNoLyrics = QStringLiteral("No lyrics");
    static inline const QString kLoading = QStringLiteral("Loading lyrics…");
    static inline const QString kUnavailable = QStringLiteral("Lyrics unavailable");

    // Adds the toggle to `menu` and to the window's shortcuts.
    LyricsPanel(QMainWindow* window, QMenu* menu, std::function<QString()> apiBase,
                std::function<QString()> token);

    // The song now current (an empty id: none). Fetched when the panel is shown.
    void showSong(const QString& songId, const QJsonObject& song);

    QAction* toggleAction() const { return toggle; }
    bool isShown() const;
    // What the panel shows (empty before it was first shown).
    QString shownText() const;

private:
    void setShown(bool shown);
    void ask();
    void lyricsReady(const QString& songId, const QString& text, bool failed);

    QMainWindow* window; // not owned; outlives this object
    QAction* toggle;     // child of this object
    LyricsFetcher fetcher;
    QPointer<QDockWidget> dock; // made on first show; owned by the window
    QPointer<QPlainTextEdit> view;
    QString songId;
    QJsonObject song;
};

} // namespace sondrel
