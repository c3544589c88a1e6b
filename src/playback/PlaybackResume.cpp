#include "playback/PlaybackResume.h"

#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <utility>

namespace sondrel {
namespace {

const QLatin1String kSearch("search");
const QLatin1String kSong("song");
const QLatin1String kRow("row");
const QLatin1String kLength("length");
const QLatin1String kSeconds("seconds");

// A whole number >= 0 that a double holds exactly, or nothing.
std::optional<std::uint64_t> count(const QJsonValue& value) {
    const double d = value.toDouble(-1);
    if (!value.isDouble() || d < 0 || d > 9e15 || d != std::floor(d)) {
        return std::nullopt;
    }
    return std::uint64_t(d);
}

} // namespace

QString ResumePoint::toText() const {
    const QJsonObject object{{kSearch, search},
                             {kSong, songId},
                             {kRow, double(row)},
                             {kLength, double(listLength)},
                             {kSeconds, seconds}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<ResumePoint> ResumePoint::fromText(const QString& text) {
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    const std::optional<std::uint64_t> row = count(object.value(kRow));
    const std::optional<std::uint64_t> length = count(object.value(kLength));
    const double seconds = object.value(kSeconds).toDouble(-1);
    if (!object.value(kSearch).isString() || !object.value(kSong).isString() ||
        object.value(kSong).toString().isEmpty() || !row || !length || *row >= *length ||
        !std::isfinite(seconds) || seconds < 0) {
        return std::nullopt;
    }
    return ResumePoint{object.value(kSearch).toString(), object.value(kSong).toString(), *row,
                       *length, seconds};
}

bool ResumePoint::samePlaceAs(const ResumePoint& other) const {
    return search == other.search && songId == other.songId && row == other.row &&
           listLength == other.listLength;
}

PlaybackResume::PlaybackResume(SongPlayer& p, const Load& load, Store store)
    : player(p), storeText(std::move(store)) {
    waiting = ResumePoint::fromText(load ? load() : QString());
    lastStored = waiting;
    if (waiting && !waiting->search.isEmpty()) {
        startSearch = waiting->search;
    }
}

std::optional<QString> PlaybackResume::storedSearch() const {
    return startSearch;
}

bool PlaybackResume::showListArrived(const QString& search) {
    showSearch = search;
    if (player.isCurrentPlaylistEqualToListOnScreen()) {
        playSearch = showSearch;
    }
    if (!waiting) {
        return false;
    }
    const ResumePoint point = *std::exchange(waiting, std::nullopt);
    const SongList& songs = player.showList();
    const bool fits =
        point.search == search && point.listLength == std::uint64_t(songs.size()) &&
        songIdText(songs.at(qsizetype(point.row)).value(QLatin1String("aid"))) == point.songId;
    if (!fits) {
        return false;
    }
    player.setPlayList(songs);
    player.setResumePoint(point.row, point.seconds);
    playSearch = search;
    restored = true;
    return true;
}

std::optional<ResumePoint> PlaybackResume::currentPoint() {
    const SongList& songs = player.playList();
    const std::uint64_t row = player.getCurrentSongNumber();
    const QString id = songIdText(player.getCurrentSongID());
    if (player.currentSong().isEmpty() || row >= std::uint64_t(songs.size()) ||
        songIdText(songs.at(qsizetype(row)).value(QLatin1String("aid"))) != id) {
        return std::nullopt; // no song, or the lists were emptied under it
    }
    if (player.isCurrentPlaylistEqualToListOnScreen()) {
        playSearch = showSearch;
    }
    const double seconds =
        player.theAudio() ? double(player.getCurrentPlayingCurrentTime()) : player.resumeSeconds();
    return ResumePoint{playSearch, id, row, std::uint64_t(songs.size()), seconds};
}

void PlaybackResume::songChanged() {
    waiting.reset(); // a song was chosen before the stored one's list came
    restored = false;
    storeIfChanged(false);
}

void PlaybackResume::save() {
    if (!waiting) {
        storeIfChanged(true);
    }
}

void PlaybackResume::storeIfChanged(bool timeCounts) {
    const std::optional<ResumePoint> point = currentPoint();
    const bool same = point.has_value() == lastStored.has_value() &&
                      (!point || (timeCounts ? point->toText() == lastStored->toText()
                                             : point->samePlaceAs(*lastStored)));
    if (!same) {
        store(point);
    }
}

void PlaybackResume::store(const std::optional<ResumePoint>& point) {
    lastStored = point;
    if (storeText) {
        storeText(point ? point->toText() : QString());
    }
}

} // namespace sondrel
