#include "fuzz/player/PlayerFuzzBody.h"

#include "fuzz/FuzzSupport.h"
#include "platform/AudioPlayer.h"

#include <QCoreApplication>
#include <cmath>
#include <vector>

namespace sondrel::fuzz {
namespace {

enum class Action { Seek, Play, Stop, Pause };

struct Step {
    qsizetype append = 0;
    Action action = Action::Seek;
    double seekFraction = 0; // of the duration; up to 1.25
};

void ensureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "fuzz_player";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
}

// Times stay finite; a duration once known never drops back to 0.
void checkTimes(const AudioPlayer& player, double& knownDuration) {
    const double now = player.currentTime();
    const double length = player.duration();
    require(std::isfinite(now) && now >= 0 && std::isfinite(length) && length >= 0);
    require(length > 0 || knownDuration == 0);
    knownDuration = length;
}

void act(AudioPlayer& player, const Step& step, double& knownDuration) {
    switch (step.action) {
    case Action::Seek: {
        // A time beyond the end is taken as the end (as the duration stood when asked).
        const double end = player.duration();
        player.setCurrentTime(step.seekFraction * std::max(end, 1.0));
        if (!player.isPlaying() && end > 0) {
            require(player.currentTime() <= end + 1e-9);
        }
        break;
    }
    case Action::Play:
        player.play();
        break;
    case Action::Stop:
        player.stop();
        break;
    case Action::Pause:
        player.pause();
        break;
    }
    checkTimes(player, knownDuration);
}

} // namespace

int fuzzAudioPlayer(const std::uint8_t* data, std::size_t size) {
    ensureApplication();
    InputReader reader(inputBytes(data, size));
    const std::uint8_t head = reader.byte();
    std::vector<Step> steps(std::size_t(head & 7) + 1);
    for (Step& step : steps) {
        step.append = reader.word();
        const std::uint8_t action = reader.byte();
        step.action = static_cast<Action>(action & 3);
        step.seekFraction = reader.byte() / 204.0;
    }
    const QByteArray song = reader.rest();

    auto buffer = std::make_shared<AudioData>();
    buffer->expectedLength = (head & 0x80) != 0 ? song.size() : -1;
    std::unique_ptr<AudioPlayer> player;
    double knownDuration = 0;
    qsizetype given = 0;
    for (const Step& step : steps) {
        const qsizetype count = std::min(step.append, song.size() - given);
        buffer->bytes.append(song.constData() + given, count);
        given += count;
        if (!player) {
            auto opening = std::make_unique<AudioPlayer>();
            QString error;
            if (opening->initWithData(buffer, &error, QStringLiteral("null"))) {
                player = std::move(opening);
                checkTimes(*player, knownDuration);
            } else {
                require(!error.isEmpty());
            }
        }
        if (player) {
            act(*player, step, knownDuration);
        }
    }
    if (player) {
        buffer->bytes.append(song.constData() + given, song.size() - given);
        player->setCurrentTime(0);
        player->play();
        checkTimes(*player, knownDuration);
    }
    return 0;
}

} // namespace sondrel::fuzz
