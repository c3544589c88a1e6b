// The texts the window and the song table show for songs: styled titles, durations and
// the time left of the song now playing.

#include "playback/SongTitles.h"

#include "playback/SongPlayer.h"
#include "support/CommonHelper.h"

#include <algorithm>

namespace sondrel {

QString AttributedTitle::toHtml() const {
    if (boldLength <= 0) {
        return plainPart().toHtmlEscaped();
    }
    return QStringLiteral("<b>%1</b>%2")
        .arg(boldPart().toHtmlEscaped(), plainPart().toHtmlEscaped());
}

QFont titleBoldFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(11);
    font.setBold(true);
    return font;
}

namespace {

// An artist or title longer than this is cut for showing: a service answer may hold
// megabytes in one field, and laying that out would stall the window on every redraw.
constexpr qsizetype kLongestShownField = 500;

QString shownField(const QJsonObject& song, QLatin1String key) {
    QString text = song.value(key).toString();
    if (text.size() > kLongestShownField) {
        text.truncate(kLongestShownField);
        if (text.back().isHighSurrogate()) {
            text.chop(1); // never half a character
        }
    }
    return CommonHelper::cleanFromHTMLCharacters(text).value_or(QString());
}

} // namespace

AttributedTitle attributedTitleForSong(const QJsonObject& song) {
    const QString artist = shownField(song, QLatin1String("artist"));
    const QString title = shownField(song, QLatin1String("title"));
    const QString separator =
        !artist.isEmpty() && !title.isEmpty() ? QStringLiteral(" - ") : QString();
    AttributedTitle result;
    result.text = artist + separator + title;
    result.boldLength = int(std::min<qsizetype>(artist.size() + 2, result.text.size()));
    return result;
}

namespace {

// The record at `index` of `list`, or an empty record outside it.
QJsonObject recordAt(const SongList& list, std::uint64_t index) {
    return index < std::uint64_t(list.size()) ? list.at(qsizetype(index)) : QJsonObject();
}

// "duration" as the service gives it: a number or a numeric text, read as a whole number.
QVariant durationOf(const QJsonObject& song) {
    return song.value(QLatin1String("duration")).toVariant();
}

// The integer value of "duration": a number truncated, or the leading whole number of a
// text ("215", " 42s" -> 42; anything else 0).
std::int64_t wholeSeconds(const QJsonValue& value) {
    if (value.isDouble()) {
        return std::int64_t(value.toDouble());
    }
    const QString text = value.toString().trimmed();
    qsizetype end = 0;
    if (end < text.size() && (text[end] == QLatin1Char('-') || text[end] == QLatin1Char('+'))) {
        ++end;
    }
    while (end < text.size() && text[end].isDigit() && end < 18) {
        ++end;
    }
    return text.left(end).toLongLong();
}

} // namespace

AttributedTitle SongPlayer::getCurrentPlayingAttributedTitle() const {
    return attributedTitleForSong(recordAt(playSongs, currentSongNumber));
}

AttributedTitle SongPlayer::getAttributedTitleForSongInListOnScreenAtRow(std::int64_t row) const {
    return row < 0 ? AttributedTitle()
                   : attributedTitleForSong(recordAt(showSongs, std::uint64_t(row)));
}

QString SongPlayer::getTimeDurationForCurrentSong() const {
    return CommonHelper::convertTimeFromSeconds(durationOf(recordAt(playSongs, currentSongNumber)));
}

QString SongPlayer::getTimeDurationForSongAtRow(std::uint64_t row) const {
    return CommonHelper::convertTimeFromSeconds(durationOf(recordAt(showSongs, row)));
}

double SongPlayer::recordDuration() const {
    return double(wholeSeconds(current.value(QLatin1String("duration"))));
}

float SongPlayer::getCurrentPlayingSecondsLeft() const {
    if (current.isEmpty() || (!audio && resumeAt <= 0)) {
        return 0;
    }
    // The record's whole duration, not the player's, which may cover only what had
    // arrived when it was made.
    return float(recordDuration() - (audio ? audio->currentTime() : resumeAt));
}

QString SongPlayer::getCurrentPlayingTimeLeft() const {
    const float left = getCurrentPlayingSecondsLeft();
    if (left > 0) {
        return QLatin1Char('-') + CommonHelper::convertTimeFromSecondsInt(std::int32_t(left));
    }
    return QLatin1Char('-') + getTimeDurationForCurrentSong();
}

} // namespace sondrel
