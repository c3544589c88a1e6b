// Demo songs: pure tones, really encoded with LAME, so the player's decoder, duration
// and seeking code meet the same kind of file a real library holds.

#include "Files.h"
#include "Song.h"

#include <cmath>
#include <filesystem>
#include <lame/lame.h>
#include <memory>
#include <numbers>
#include <vector>

namespace standin {
namespace {

constexpr int kSampleRate = 44100;
constexpr int kBitrate = 128;

struct DemoName {
    const char* artist;
    const char* title;
};

// Latin and Cyrillic names; some titles hold characters the player cleans up.
constexpr DemoName kNames[] = {
    {"Кино", "Звезда"},
    {"The Loopback Band", "Best_Song [Live]"},
    {"Ария", "Rock+Roll"},
    {"Кино", "Группа крови"},
    {"Sine Wave Trio", "Morning Tone"},
    {"Ночные Снайперы", "Тридцать первая весна"},
    {"Ensemble Über", "Straße nach Süden"},
    {"ДДТ", "Осень"},
    {"Pure Tones", "A & B"},
    {"Земфира", "Ариведерчи"},
    {"Port 47080", "Test Signal (Remix)"},
    {"Аквариум", "Город золотой"},
};
constexpr int kNameCount = static_cast<int>(std::size(kNames));

struct LameDeleter {
    void operator()(lame_global_flags* f) const { lame_close(f); }
};

// The encoded MP3 of `seconds` seconds of a `hz` sine (both channels), with short fades
// so the tone starts and ends without a click. Empty on failure.
std::string encodeTone(int hz, int seconds) {
    std::unique_ptr<lame_global_flags, LameDeleter> lame(lame_init());
    if (!lame) {
        return {};
    }
    lame_set_in_samplerate(lame.get(), kSampleRate);
    lame_set_out_samplerate(lame.get(), kSampleRate);
    lame_set_num_channels(lame.get(), 2);
    lame_set_mode(lame.get(), JOINT_STEREO);
    lame_set_VBR(lame.get(), vbr_off);
    lame_set_brate(lame.get(), kBitrate);
    lame_set_quality(lame.get(), 7);
    lame_set_bWriteVbrTag(lame.get(), 1);
    lame_set_write_id3tag_automatic(lame.get(), 0);
    if (lame_init_params(lame.get()) < 0) {
        return {};
    }

    const long total = static_cast<long>(seconds) * kSampleRate;
    const long fade = kSampleRate / 100;
    constexpr int kChunk = 1152 * 8;
    std::vector<short> pcm(kChunk * 2);
    std::vector<unsigned char> out(static_cast<std::size_t>(1.25 * kChunk + 7200));
    std::string mp3;
    const double step = 2.0 * std::numbers::pi * hz / kSampleRate;

    for (long start = 0; start < total; start += kChunk) {
        const int n = static_cast<int>(std::min<long>(kChunk, total - start));
        for (int k = 0; k < n; ++k) {
            const long i = start + k;
            double gain = 0.3;
            if (i < fade) {
                gain *= static_cast<double>(i) / fade;
            } else if (total - i < fade) {
                gain *= static_cast<double>(total - i) / fade;
            }
            const auto s = static_cast<short>(std::lround(gain * 32767.0 * std::sin(step * i)));
            pcm[2 * k] = s;
            pcm[2 * k + 1] = s;
        }
        const int bytes = lame_encode_buffer_interleaved(lame.get(), pcm.data(), n, out.data(),
                                                         static_cast<int>(out.size()));
        if (bytes < 0) {
            return {};
        }
        mp3.append(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(bytes));
    }
    const int tail = lame_encode_flush(lame.get(), out.data(), static_cast<int>(out.size()));
    if (tail < 0) {
        return {};
    }
    mp3.append(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(tail));

    // LAME reserved the first frame for the Info header; now that the stream is
    // complete (frame count, encoder delay and padding known), fill it in.
    unsigned char tag[2880];
    const std::size_t tagSize = lame_get_lametag_frame(lame.get(), tag, sizeof tag);
    if (tagSize == 0 || tagSize > sizeof tag || tagSize > mp3.size()) {
        return {};
    }
    mp3.replace(0, tagSize, reinterpret_cast<const char*>(tag), tagSize);
    return mp3;
}

} // namespace

std::vector<Song> makeDemoSongs(const std::string& cacheDir, int count, int seconds,
                                std::int64_t ownerId, std::string& error) {
    const std::string dir = cacheDir + "/demo";
    if (!makeDirs(dir)) {
        error = "cannot create the demo song folder " + dir;
        return {};
    }
    std::vector<Song> songs;
    for (int i = 0; i < count; ++i) {
        Song song;
        song.toneHz = 300 + 100 * i;
        song.aid = 100001 + i;
        song.ownerId = ownerId;
        song.lyricsId = 200001 + i;
        song.duration = seconds;
        const DemoName& name = kNames[i % kNameCount];
        song.artist = name.artist;
        song.title = name.title;
        if (i >= kNameCount) {
            song.title += " " + std::to_string(i / kNameCount + 1);
        }
        // The file depends only on tone and length, so services with different song
        // counts share the cache.
        song.path = absolutePath(dir + "/tone-" + std::to_string(song.toneHz) + "hz-" +
                                 std::to_string(seconds) + "s.mp3");
        std::error_code ec;
        song.size = std::filesystem::file_size(song.path, ec);
        if (ec || song.size == 0) {
            const std::string mp3 = encodeTone(song.toneHz, seconds);
            if (mp3.empty()) {
                error = "cannot encode the demo song " + song.path;
                return {};
            }
            error = writeFileAtomically(song.path, mp3);
            if (!error.empty()) {
                return {};
            }
            song.size = mp3.size();
        }
        songs.push_back(std::move(song));
    }
    return songs;
}

} // namespace standin
