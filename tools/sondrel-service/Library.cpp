#include "Json.h"
#include "Song.h"
#include "TextCase.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <mpg123.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

namespace standin {
namespace {

std::string trimmed(std::string text) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

bool isMp3(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".mp3";
}

// Whether the player's decoder (libmpg123) decodes the first frame of a file: a file
// named .mp3 that is something else, or broken from its start, would only fail later in
// the player. Tags before the first frame are skipped as the player skips them.
class Mp3Probe {
public:
    Mp3Probe() : handle(mpg123_new(nullptr, nullptr)) {
        if (handle != nullptr) {
            mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        }
    }
    ~Mp3Probe() { mpg123_delete(handle); }
    Mp3Probe(const Mp3Probe&) = delete;
    Mp3Probe& operator=(const Mp3Probe&) = delete;

    // Empty when the file decodes, else the decoder's reason.
    std::string check(const std::string& path) {
        if (handle == nullptr) {
            return "no MP3 decoder";
        }
        if (mpg123_open(handle, path.c_str()) != MPG123_OK) {
            return mpg123_strerror(handle);
        }
        off_t frame = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        int result = mpg123_decode_frame(handle, &frame, &audio, &bytes);
        if (result == MPG123_NEW_FORMAT) {
            result = mpg123_decode_frame(handle, &frame, &audio, &bytes);
        }
        std::string why;
        if (result == MPG123_DONE) {
            why = "no MP3 frame in it";
        } else if (result != MPG123_OK) {
            why = mpg123_strerror(handle);
        }
        mpg123_close(handle);
        return why;
    }

private:
    mpg123_handle* handle;
};

// Artist, title and duration from the tags; "Artist - Title.mp3" or the file name stand
// in for missing ones, a guess from the size for a missing duration.
void readTags(Song& song, const std::filesystem::path& file) {
    TagLib::FileRef ref(song.path.c_str());
    if (!ref.isNull() && ref.tag() != nullptr) {
        song.artist = trimmed(ref.tag()->artist().to8Bit(true));
        song.title = trimmed(ref.tag()->title().to8Bit(true));
    }
    if (!ref.isNull() && ref.audioProperties() != nullptr) {
        song.duration = ref.audioProperties()->lengthInSeconds();
    }
    if (song.title.empty()) {
        const std::string stem = file.stem().string();
        const auto dash = stem.find(" - ");
        if (dash != std::string::npos && song.artist.empty()) {
            song.artist = trimmed(stem.substr(0, dash));
            song.title = trimmed(stem.substr(dash + 3));
        } else {
            song.title = stem;
        }
    }
    if (song.artist.empty()) {
        song.artist = "Unknown Artist";
    }
    if (song.duration <= 0) {
        // 128 kbit/s as a guess when the file has no readable header.
        song.duration = static_cast<int>(std::max<std::uint64_t>(1, song.size / 16000));
    }
}

} // namespace

std::string songUrl(const Song& song, const std::string& httpOrigin) {
    return httpOrigin + "/audio/" + std::to_string(song.aid) + ".mp3";
}

void writeSongFields(JsonWriter& w, const Song& song, const std::string& httpOrigin) {
    w.field("aid", song.aid);
    w.field("owner_id", song.ownerId);
    w.field("artist", song.artist);
    w.field("title", song.title);
    w.field("duration", song.duration);
    w.field("url", songUrl(song, httpOrigin));
    w.field("lyrics_id", song.lyricsId);
    if (song.toneHz != 0) {
        w.field("tone_hz", song.toneHz);
    }
}

const Song* Library::find(std::int64_t aid) const {
    for (const Song& song : all) {
        if (song.aid == aid) {
            return &song;
        }
    }
    return nullptr;
}

std::vector<const Song*> Library::search(std::string_view query) const {
    const std::string needle = lowerUtf8(query);
    std::vector<const Song*> found;
    for (const Song& song : all) {
        const std::string artist = lowerUtf8(song.artist);
        const std::string title = lowerUtf8(song.title);
        const std::string both = artist + " " + title;
        if (artist.find(needle) != std::string::npos || title.find(needle) != std::string::npos ||
            both.find(needle) != std::string::npos) {
            found.push_back(&song);
        }
    }
    return found;
}

std::vector<Song> scanLibrary(const std::string& dir, std::int64_t ownerId, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = "the library folder " + dir + " does not exist";
        return {};
    }
    int skipped = 0;
    auto skip = [&skipped](const fs::path& file, const std::string& why) {
        std::cerr << "sondrel-service: skipping " << file.string() << ": " << why << "\n";
        ++skipped;
    };
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(
             dir, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) {
            continue; // folders, and whatever else is no plain file
        }
        if (isMp3(it->path())) {
            files.push_back(it->path());
        } else {
            skip(it->path(), "not an MP3 file");
        }
    }
    if (ec) {
        std::cerr << "sondrel-service: cannot read all of " << dir << ": " << ec.message() << "\n";
    }
    std::sort(files.begin(), files.end());

    Mp3Probe probe;
    std::vector<Song> songs;
    for (const fs::path& file : files) {
        Song song;
        song.path = fs::absolute(file).string();
        song.size = fs::file_size(file, ec);
        if (ec) {
            skip(file, ec.message());
            continue;
        }
        if (song.size == 0) {
            skip(file, "empty file");
            continue;
        }
        if (const std::string why = probe.check(song.path); !why.empty()) {
            skip(file, "not a playable MP3 file (" + why + ")");
            continue;
        }
        readTags(song, file);
        song.aid = static_cast<std::int64_t>(songs.size()) + 1;
        song.ownerId = ownerId;
        song.lyricsId = song.aid + 1000000;
        songs.push_back(std::move(song));
    }
    if (skipped > 0) {
        std::cerr << "sondrel-service: " << songs.size() << " songs under " << dir << ", "
                  << skipped << " files skipped\n";
    }
    if (songs.empty()) {
        error = "no MP3 files found under " + dir;
    }
    return songs;
}

} // namespace standin
