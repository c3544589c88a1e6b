// AppController: the song table's data source and delegate, the marking of the current
// song's row, and the row buttons.

#include "playback/SongPlayer.h"
#include "support/CommonHelper.h"
#include "ui_SongCell.h"
#include "window/AppController.h"
#include "window/Images.h"
#include "window/TitleText.h"
#include "window/ViewTags.h"

#include <QAbstractButton>
#include <QLabel>

namespace sondrel {
namespace {

// A label inside the table draws with the Text role (its background is the table's
// Base), a label elsewhere with WindowText: both get the colour.
void setTextColour(QLabel* label, const QColor& colour) {
    if (label == nullptr) {
        return;
    }
    QPalette palette = label->palette();
    if (palette.color(QPalette::WindowText) != colour || palette.color(QPalette::Text) != colour) {
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::Text, colour);
        label->setPalette(palette);
    }
}

const QColor& rowTextColour() {
    static const QColor colour =
        CommonHelper::createNSColorFromString(AppController::kRowTextColour);
    return colour;
}

} // namespace

QWidget* AppController::makeSongCell() {
    auto* cell = new QWidget;
    Ui::SongCell form;
    form.setupUi(cell);
    // The row button acts on the row its identifier names; the connection is made once
    // per cell, which the table then reuses for other rows.
    QAbstractButton* button = form.rowButton;
    connect(button, &QAbstractButton::clicked, this, [this, button] { switchSongWith(button); });
    return cell;
}

std::int64_t AppController::numberOfRowsInTableView(SongTableView* /*table*/) {
    SongPlayer* songPlayer = player();
    return songPlayer != nullptr
               ? static_cast<std::int64_t>(songPlayer->getQuantityFromListOnScreen())
               : 0;
}

double AppController::tableViewHeightOfRow(SongTableView* /*table*/, std::int64_t /*row*/) {
    return kRowHeight;
}

bool AppController::tableViewShouldSelectRow(SongTableView* /*table*/, std::int64_t /*row*/) {
    return false;
}

QWidget* AppController::tableViewViewForTableColumn(SongTableView* table, int /*column*/,
                                                    std::int64_t row) {
    QWidget* cell = table->makeViewWithIdentifier(kSongCellIdentifier, this);
    SongPlayer* songPlayer = player();
    if (cell == nullptr || songPlayer == nullptr) {
        return cell;
    }
    QWidget* highlight = viewWithTag(cell, kSongCellHighlightTag);
    auto* title = viewWithTag<QLabel>(cell, kSongCellTitleTag);
    auto* time = viewWithTag<QLabel>(cell, kSongCellTimeTag);
    auto* button = viewWithTag<QAbstractButton>(cell, kSongCellButtonTag);

    showTitle(title, songPlayer->getAttributedTitleForSongInListOnScreenAtRow(row));
    if (button != nullptr) {
        button->setProperty("identifier", QString::asprintf("%ld", static_cast<long>(row)));
    }
    const bool current = isCurrentSongRow(row);
    if (highlight != nullptr) {
        highlight->setVisible(current);
    }
    setTextColour(title, current ? QColor(Qt::white) : rowTextColour());
    setTextColour(time, current ? QColor(Qt::white) : rowTextColour());
    if (current) {
        // The time field keeps what the playback timer last wrote into it; the button
        // shows what it showed before the row went away (paused: "play").
        setButtonImage(button, currentRowImage);
    } else {
        if (time != nullptr) {
            time->setText(songPlayer->getTimeDurationForSongAtRow(static_cast<std::uint64_t>(row)));
        }
        setButtonImage(button, QStringLiteral("play"));
    }
    return cell;
}

// Asked in this order, stopping at the first that fails: the play list is the list on
// screen, the row is the current song's number, and that song is the row's song.
bool AppController::isCurrentSongRow(std::int64_t row) const {
    const SongPlayer* songPlayer = player();
    return songPlayer != nullptr && songPlayer->isCurrentPlaylistEqualToListOnScreen() &&
           songPlayer->getCurrentSongNumber() == static_cast<std::uint64_t>(row) &&
           songPlayer->isCurrentSongEqualToSongInRowInListOnScreen();
}

QString AppController::tableViewAccessibleText(SongTableView* /*table*/, std::int64_t row,
                                               QAccessible::Text kind) {
    const SongPlayer* songPlayer = player();
    if (songPlayer == nullptr || row < 0 ||
        static_cast<std::uint64_t>(row) >= songPlayer->getQuantityFromListOnScreen()) {
        return {};
    }
    if (kind == QAccessible::Name) {
        // The song's length, not the time left the row shows while it plays: a name
        // that changed twice a second would be read out again and again.
        return tr("%1, %2").arg(
            songPlayer->getAttributedTitleForSongInListOnScreenAtRow(row).text,
            songPlayer->getTimeDurationForSongAtRow(static_cast<std::uint64_t>(row)));
    }
    if (kind == QAccessible::Description && isCurrentSongRow(row)) {
        if (songPlayer->isPlaying()) {
            return tr("playing");
        }
        if (songPlayer->isPaused()) {
            return tr("paused");
        }
    }
    return {};
}

void AppController::tableViewActivateRow(SongTableView* /*table*/, std::int64_t row) {
    switchSongAtRow(row);
}

void AppController::markRowView(QWidget* rowView, bool current) {
    if (QWidget* highlight = viewWithTag(rowView, kSongCellHighlightTag)) {
        highlight->setVisible(current);
    }
    const QColor colour = current ? QColor(Qt::white) : rowTextColour();
    setTextColour(viewWithTag<QLabel>(rowView, kSongCellTitleTag), colour);
    setTextColour(viewWithTag<QLabel>(rowView, kSongCellTimeTag), colour);
}

void AppController::unselectAllRows() {
    SongPlayer* songPlayer = player();
    SongTableView* table = songsTableView();
    if (songPlayer == nullptr || table == nullptr) {
        return;
    }
    // Only rows on screen have views; the others are built unmarked when they scroll in.
    for (const std::int64_t row : table->loadedRows()) {
        if (static_cast<std::uint64_t>(row) >= songPlayer->getQuantityFromListOnScreen()) {
            continue;
        }
        QWidget* rowView = table->rowViewAtRow(row, false);
        markRowView(rowView, false);
        if (auto* time = viewWithTag<QLabel>(rowView, kSongCellTimeTag)) {
            time->setText(songPlayer->getTimeDurationForSongAtRow(static_cast<std::uint64_t>(row)));
        }
        const bool currentSongRow =
            songPlayer->isCurrentPlaylistEqualToListOnScreen() &&
            songPlayer->getCurrentSongNumber() == static_cast<std::uint64_t>(row);
        if (!currentSongRow) {
            setButtonImage(viewWithTag<QAbstractButton>(rowView, kSongCellButtonTag),
                           QStringLiteral("play"));
        }
    }
}

void AppController::selectSongRow(std::uint64_t row, SongTableView* table) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr || table == nullptr ||
        !songPlayer->isCurrentPlaylistEqualToListOnScreen()) {
        return;
    }
    unselectAllRows();
    if (QWidget* rowView = table->rowViewAtRow(static_cast<std::int64_t>(row), false)) {
        markRowView(rowView, true);
    }
}

void AppController::switchSongWith(QAbstractButton* sender) {
    if (sender == nullptr) {
        return;
    }
    bool ok = false;
    const qlonglong row = sender->property("identifier").toString().toLongLong(&ok);
    if (ok) {
        switchSongAtRow(row);
    }
}

void AppController::switchSongAtRow(std::int64_t row) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr || row < 0 ||
        static_cast<std::uint64_t>(row) >= songPlayer->getQuantityFromListOnScreen()) {
        return;
    }
    songPlayer->setListOnScreenAsCurrentPlaylist();
    songPlayer->setSongForPlay(static_cast<std::uint64_t>(row));
}

} // namespace sondrel
