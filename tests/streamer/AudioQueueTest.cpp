// The audio queue on its own: what an immediate stop means for buffers enqueued after
// it and for the running changes that listeners hear, with the queue thread held inside
// the device so that the order of events is fixed.

#include "streamer/AudioQueue.h"

#include "StreamerTestSupport.h"

#include <QScopeGuard>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace sondrel::test {
namespace {

// A device that keeps what it was given since each start(), and whose write() can be
// held shut: the queue thread then waits inside it.
struct Device {
    std::mutex mutex;
    std::condition_variable changed;
    bool shut = false;
    bool waiting = false;                        // the queue thread waits in write()
    std::vector<std::vector<std::int16_t>> runs; // samples written, one entry per start()

    void open() {
        {
            std::lock_guard lock(mutex);
            shut = false;
        }
        changed.notify_all();
    }
};

class HeldOutput : public AudioOutput {
public:
    explicit HeldOutput(Device& device) : device(device) {}
    bool start(const AudioFormat&) override {
        std::lock_guard lock(device.mutex);
        device.runs.emplace_back();
        return true;
    }
    std::int64_t bytesFree() const override { return 1 << 20; }
    std::int64_t write(const char* data, std::int64_t length) override {
        std::unique_lock lock(device.mutex);
        device.waiting = device.shut;
        device.changed.notify_all();
        device.changed.wait(lock, [&] { return !device.shut; });
        device.waiting = false;
        const auto* samples = reinterpret_cast<const std::int16_t*>(data);
        device.runs.back().insert(device.runs.back().end(), samples, samples + length / 2);
        return length;
    }
    std::int64_t playedFrames() const override { return 0; }
    std::int64_t bufferedFrames() const override { return 0; }
    void pause() override {}
    void resume() override {}
    void stop() override {}
    void setVolume(double) override {}
    bool failed() const override { return false; }
    QString errorString() const override { return {}; }

private:
    Device& device;
};

TEST(AudioQueue, AnImmediateStopComesBeforeWhatIsEnqueuedAfterIt) {
    AudioStreamBasicDescription pcm;
    pcm.sampleRate = 44100;
    pcm.formatId = kFormatLinearPCM;
    pcm.formatFlags = kFormatFlagIsSignedInteger | kFormatFlagIsPacked;
    pcm.bytesPerPacket = pcm.bytesPerFrame = 4;
    pcm.framesPerPacket = 1;
    pcm.channelsPerFrame = 2;
    pcm.bitsPerChannel = 16;

    Device device; // outlives the queue
    std::atomic<int> givenBack = 0;
    // (running, stop pending) as each listener call sees them.
    std::mutex heardMutex;
    std::vector<std::pair<std::uint32_t, bool>> heard;
    std::unique_ptr<AudioQueue> queue;
    ASSERT_EQ(AudioQueue::newOutput(
                  pcm, [&](AudioQueue&, AudioQueueBufferRef) { ++givenBack; },
                  [&] { return std::make_unique<HeldOutput>(device); }, &queue),
              kNoErr);
    // Whatever fails, the queue thread gets out of write() before the queue joins it.
    const auto openAtEnd = qScopeGuard([&] { device.open(); });
    queue->addPropertyListener(kAudioQueuePropertyIsRunning, [&](AudioQueue& q, std::uint32_t) {
        std::uint32_t running = 0;
        q.getProperty(kAudioQueuePropertyIsRunning, &running);
        std::lock_guard lock(heardMutex);
        heard.emplace_back(running, q.stopPending());
    });
    const auto fill = [&](std::int16_t first) {
        AudioQueueBufferRef buffer = nullptr;
        EXPECT_EQ(queue->allocateBuffer(4096, &buffer), kNoErr);
        std::vector<std::int16_t> samples(2048);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = std::int16_t(first + std::int16_t(i));
        }
        std::memcpy(buffer->audioData.data(), samples.data(), 4096);
        buffer->audioDataByteSize = 4096;
        EXPECT_EQ(queue->enqueueBuffer(buffer, 0, nullptr), kNoErr);
        return samples;
    };

    // The queue thread writes the first run's buffer and is held inside the device.
    device.shut = true;
    fill(-10000);
    ASSERT_EQ(queue->start(), kNoErr);
    {
        std::unique_lock lock(device.mutex);
        ASSERT_TRUE(device.changed.wait_for(lock, std::chrono::seconds(60),
                                            [&] { return device.waiting; }));
    }
    // Meanwhile the caller stops at once and begins the next run, as a seek does.
    ASSERT_EQ(queue->stop(true), kNoErr);
    EXPECT_TRUE(queue->stopPending());
    const std::vector<std::int16_t> next = fill(1000);
    ASSERT_EQ(queue->start(), kNoErr);
    device.open();

    // Both buffers come back once written; the next run's, whole, on the device as
    // restarted after the stop.
    ASSERT_TRUE(waitUntil([&] { return givenBack == 2; }));
    {
        std::lock_guard lock(device.mutex);
        ASSERT_EQ(device.runs.size(), 2u);
        EXPECT_EQ(device.runs[1], next);
    }
    EXPECT_FALSE(queue->stopPending());
    // The stop is heard as the stop's own change; the start after it as a new run.
    std::lock_guard lock(heardMutex);
    EXPECT_EQ(heard,
              (std::vector<std::pair<std::uint32_t, bool>>{{1, false}, {0, true}, {1, false}}));
}

} // namespace
} // namespace sondrel::test
