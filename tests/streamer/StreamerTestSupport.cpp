#include "StreamerTestSupport.h"

#include "platform/AudioOutput.h"
#include "platform/ServiceConfig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace sondrel::test {

bool waitUntil(const std::function<bool()>& done, double seconds) {
    QDeadlineTimer deadline(qint64(seconds * 1000));
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();
    return true;
}

void StreamerFixture::SetUp() {
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(server.isRunning());
    // No extra certificate unless a test configures one.
    setServiceConfig(ServiceConfig{});
    AudioStreamer::setAlertPresenter([this](const QString& title, const QString& message) {
        alerts.append(title + QLatin1Char('|') + message);
    });
}

void StreamerFixture::TearDown() {
    AudioStreamer::setAlertPresenter({});
}

QString StreamerFixture::wavPath(int index) const {
    return dir.filePath(QStringLiteral("heard-%1.wav").arg(index));
}

std::unique_ptr<AudioStreamer> StreamerFixture::makeStreamer(const QString& url) {
    auto streamer = std::make_unique<AudioStreamer>(QUrl(url));
    const QString path = wavPath(created++);
    streamer->setAudioOutputFactory(
        [path] { return createAudioOutput(QStringLiteral("wav:") + path); });
    AudioStreamer* s = streamer.get();
    QObject::connect(s, &AudioStreamer::notification, s, [this, s](const QString& name) {
        EXPECT_EQ(name, QStringLiteral("ASStatusChangedNotification"));
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        ++notifications;
        statesSeen.push_back(s->state());
    });
    return streamer;
}

bool StreamerFixture::playToEnd(AudioStreamer& streamer, double seconds) {
    streamer.start();
    return waitUntil([&] { return streamer.isIdle(); }, seconds);
}

std::vector<double> tonesHeard(const WavData& wav, double minSeconds,
                               const std::vector<double>& candidates) {
    std::vector<double> tones;
    for (const ToneRun& run : toneRuns(wav, candidates, minSeconds)) {
        if (run.hz > 0 && (tones.empty() || tones.back() != run.hz)) {
            tones.push_back(run.hz);
        }
    }
    return tones;
}

double secondsOf(const WavData& wav) {
    return wav.sampleRate ? double(wav.frames()) / wav.sampleRate : 0.0;
}

} // namespace sondrel::test
