#include "window/LyricsPanel.h"

#include <QAction>
#include <QDockWidget>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>

namespace sondrel {

LyricsPanel::LyricsPanel(QMainWindow* window, QMenu* menu, std::function<QString()> apiBase,
                         std::function<QString()> token)
    : QObject(window), window(window), toggle(new QAction(QStringLiteral("Lyrics"), this)),
      fetcher(std::move(apiBase), std::move(token)) {
    toggle->setCheckable(true);
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    toggle->setToolTip(QStringLiteral("Show the lyrics of the song playing"));
    if (menu != nullptr) {
        menu->addSeparator();
        menu->addAction(toggle);
    }
    window->addAction(toggle);
    connect(toggle, &QAction::toggled, this, &LyricsPanel::setShown);
    connect(&fetcher, &LyricsFetcher::lyricsReady, this, &LyricsPanel::lyricsReady);
}

void LyricsPanel::showSong(const QString& id, const QJsonObject& record) {
    if (id == songId && !id.isEmpty()) {
        return;
    }
    songId = id;
    song = record;
    if (isShown()) {
        ask();
    }
}

bool LyricsPanel::isShown() const {
    return dock != nullptr && dock->isVisible();
}

QString LyricsPanel::shownText() const {
    return view != nullptr ? view->toPlainText() : QString();
}

void LyricsPanel::setShown(bool shown) {
    if (shown && dock == nullptr) {
        dock = new QDockWidget(QStringLiteral("Lyrics"), window);
        dock->setObjectName(QStringLiteral("lyricsPanel"));
        dock->setFeatures(QDockWidget::DockWidgetClosable);
        view = new QPlainTextEdit(dock);
        view->setReadOnly(true);
        view->setObjectName(QStringLiteral("lyricsText"));
        view->setAccessibleName(QStringLiteral("Lyrics"));
        dock->setWidget(view);
        window->addDockWidget(Qt::RightDockWidgetArea, dock);
        // Closing the panel by its own button unchecks the toggle.
        connect(dock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
            if (!visible && dock != nullptr && !dock->isVisible()) {
                toggle->setChecked(false);
            }
        });
    }
    if (dock == nullptr) {
        return;
    }
    dock->setVisible(shown);
    if (shown) {
        ask();
    }
}

void LyricsPanel::ask() {
    if (songId.isEmpty()) {
        view->setPlainText(kNoLyrics);
        return;
    }
    view->setPlainText(kLoading);
    fetcher.requestLyricsForSong(songId, song);
}

void LyricsPanel::lyricsReady(const QString& id, const QString& text, bool failed) {
    if (id != songId || view == nullptr) {
        return;
    }
    view->setPlainText(failed ? kUnavailable : text.isEmpty() ? kNoLyrics : text);
}

} // namespace sondrel
