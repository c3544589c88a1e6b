#pragma once
// Where the user left playback, kept across runs: the list the song was played from (the
// own list, or a search and its text), the song (its id, its row in that list and the
// list's length) and the time into it.
//
// At start the stored point waits for its list; when that list is on screen and still
// holds the same song in the same row with the same length, the player is put on that
// song (marked, not playing) and the next play goes on from the stored time. A point
// that no longer fits (the song is gone or moved, the list changed, another list came
// first) is dropped without a word. The point is stored when the song changes or is
// paused, and with the exact time when the player quits; never on a timer tick.
//
// The storage is the caller's: a text under one settings key (the window) or a file of
// its own (sondrel-play). A stored text that cannot be read counts as nothing stored.
//
// Threading: main thread only (it reads the SongPlayer, which is main-thread only).

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace sondrel {

class SongPlayer;

struct ResumePoint {
    QString search; // the search text; empty for the own list
    QString songId; // the text form of the song's "aid"
    std::uint64_t row = 0;
    std::uint64_t listLength = 0;
    double seconds = 0;

    // A small JSON object; fromText answers nothing for text that is not one of these.
    QString toText() const;
    static std::optional<ResumePoint> fromText(const QString& text);
    // The same song in the same place of the same list (the time aside).
    bool samePlaceAs(const ResumePoint& other) const;
};

class PlaybackResume {
public:
    // The settings key under which the window keeps the point.
    static inline const QString kSettingsKey = QStringLiteral("lastPlaybackPosition");

    using Load = std::function<QString()>;
    using Store = std::function<void(const QString&)>;

    // Reads the stored point at once (`load` answers "" when there is none).
    PlaybackResume(SongPlayer& player, const Load& load, Store store);

    // The search text of the list the stored point was played from, until the user asks
    // for another list (forgetStoredSearch): the list to request at start. Nothing when
    // no point was stored or it came from the own list.
    std::optional<QString> storedSearch() const;
    void forgetStoredSearch() { startSearch.reset(); }
    // A point waits for its list.
    bool isWaiting() const { return waiting.has_value(); }
    // The stored point was applied and no song has started since: the window shows it.
    bool showsStoredPoint() const { return restored; }

    // The answer for `search` ("" for the own list) is now the player's show list. A
    // waiting point is applied (true) or dropped. Call after every list answer.
    bool showListArrived(const QString& search);
    // A song started: stores the point when the song or its list changed. A point still
    // waiting for its list is dropped (the user chose another song).
    void songChanged();
    // Stores the point with the time reached (pause, quit). Nothing while a point still
    // waits for its list: it stays stored for the next start.
    void save();

private:
    std::optional<ResumePoint> currentPoint();
    // Stores the current point when its place (or, with `timeCounts`, also its time)
    // differs from what the store holds.
    void storeIfChanged(bool timeCounts);
    void store(const std::optional<ResumePoint>& point);

    SongPlayer& player;
    Store storeText;
    std::optional<ResumePoint> waiting;
    std::optional<QString> startSearch;
    QString showSearch;                    // the search of the list on screen
    QString playSearch;                    // the search of the list being played
    std::optional<ResumePoint> lastStored; // what the store holds
    bool restored = false;
};

} // namespace sondrel
