#pragma once
// Shared pieces of the streamer's end-to-end tests: a fixture with a real HTTP server on
// 127.0.0.1, streamers that play into the wav: output of a temp folder, alerts answered
// by the test, and waiting on conditions while the main loop runs.

#include "StreamTestAudio.h"
#include "StreamTestServer.h"
#include "ToneSongs.h"
#include "streamer/AudioStreamer.h"

#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace sondrel::test {

// Runs the main loop until `done` holds or `seconds` passed; false on time-out.
bool waitUntil(const std::function<bool()>& done, double seconds = 60);

class StreamerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A streamer for `url` that plays into its own WAV file (heard(index)).
    std::unique_ptr<AudioStreamer> makeStreamer(const QString& url);
    QString wavPath(int index) const;
    WavData heard(int index = 0) const { return readWav(wavPath(index)); }
    // Starts and waits until the streamer is back to idle.
    bool playToEnd(AudioStreamer& streamer, double seconds = 60);

    QTemporaryDir dir;
    StreamTestServer server;
    QStringList alerts; // "title|message" of every alert shown
    int notifications = 0;
    int created = 0;
    std::vector<int> statesSeen; // the state read at each notification
};

// The stretches of tone (ignoring silence) in a recording.
std::vector<double> tonesHeard(const WavData& wav, double minSeconds = 0.2,
                               const std::vector<double>& candidates = {330, 440, 660, 880});
double secondsOf(const WavData& wav);

} // namespace sondrel::test
