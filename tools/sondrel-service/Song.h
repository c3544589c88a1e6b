#pragma once
// One song the service offers, and the list of them. The list is built once at start
// and never changes, so any thread may read it without a lock.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

class JsonWriter;

struct Song {
    std::int64_t aid = 0;
    std::int64_t ownerId = 0;
    std::string artist;
    std::string title;
    int duration = 0; // whole seconds
    std::int64_t lyricsId = 0;
    int toneHz = 0;   // generated demo songs only
    std::string path; // the MP3 file on disk
    std::uint64_t size = 0;
};

// The song's address on the HTTP listener.
std::string songUrl(const Song& song, const std::string& httpOrigin);

// Writes the fields of a song record (the API's song object) into the open object.
void writeSongFields(JsonWriter& w, const Song& song, const std::string& httpOrigin);

class Library {
public:
    Library() = default;
    explicit Library(std::vector<Song> songs) : all(std::move(songs)) {}

    const std::vector<Song>& songs() const { return all; }
    const Song* find(std::int64_t aid) const;
    // Songs whose artist, title or "artist title" contains `query`, ignoring case.
    std::vector<const Song*> search(std::string_view query) const;

private:
    std::vector<Song> all;
};

// Reads every *.mp3 under `dir` and its subfolders (sorted by path; aid 1, 2, ...).
// Artist, title and duration come from the tags; "Artist - Title.mp3" or the file name
// stand in for missing tags. Other files, and .mp3 files that are empty, unreadable or
// not decodable from their start, are skipped with a line on stderr each.
std::vector<Song> scanLibrary(const std::string& dir, std::int64_t ownerId, std::string& error);

// Makes (or finds in `cacheDir`) `count` demo songs of `seconds` seconds each, song i
// being a pure tone of 300 + 100*i Hz, MP3 44.1 kHz stereo CBR 128 kbit/s with an
// Info header.
std::vector<Song> makeDemoSongs(const std::string& cacheDir, int count, int seconds,
                                std::int64_t ownerId, std::string& error);

} // namespace standin
