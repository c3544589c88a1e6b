#pragma once
// Test material for playback: MP3 songs of pure tones made with LAME, and the analysis
// of recorded WAV files (which tone sounds in which window).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace sondrel::test {

struct ToneSpec {
    double hz = 440;
    double seconds = 2;
    int sampleRate = 44100;
    int channels = 2;
    bool infoTag = true;     // the Xing/Info frame that states the exact length
    int id3PaddingBytes = 0; // an ID3v2 tag of about this size in front
    int kbps = 128;
};

// An MP3 file of a sine tone.
QByteArray makeToneMp3(const ToneSpec& spec);

struct WavData {
    int sampleRate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples; // interleaved
    std::int64_t frames() const { return channels ? std::int64_t(samples.size()) / channels : 0; }
};

// Reads a 16-bit PCM WAV file; empty result when it is not one.
WavData readWav(const QString& path);

// The candidate (from `candidates`) whose power dominates the window of `frames` frames
// starting at `start`, or 0 when the window is (nearly) silent.
double dominantTone(const WavData& wav, std::int64_t start, std::int64_t frames,
                    const std::vector<double>& candidates);

struct ToneRun {
    double hz = 0;      // 0: silence
    double seconds = 0; // how long it sounded without a break
};

// The recording cut into 50 ms windows, consecutive windows of the same tone merged.
// Runs shorter than `minSeconds` (edges between songs) are dropped.
std::vector<ToneRun> toneRuns(const WavData& wav, const std::vector<double>& candidates,
                              double minSeconds = 0.2);

// The run list as text ("440x2.0 660x1.5 ..."), for messages.
QString describe(const std::vector<ToneRun>& runs);

} // namespace sondrel::test
