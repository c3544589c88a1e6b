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

// `afterSeek`: a seek of a stopped player stands at most at the end.
void checkTimes(const AudioPlayer& player, bool afterSeek = false) {
    const double now = player.currentTime();
    const double length = player.duration();
    require(std::isfinite(now) && now >= 0 && std::isfinite(length) && length >= 0);
    if (afterSeek && !player.isPlaying() && length > 0) {
        require(now <= length + 1e-9);
    }
}

void act(AudioPlayer& player, const Step& step) {
    switch (step.action) {
    case Action::Seek:
        player.setCurrentTime(step.seekFraction * std::max(player.duration(), 1.0));
        break;
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
    checkTimes(player, step.action == Action::Seek);
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
                checkTimes(*player);
            } else {
                require(!error.isEmpty());
            }
        }
        if (player) {
            act(*player, step);
        }
    }
    if (player) {
        buffer->bytes.append(song.constData() + given, song.size() - given);
        player->setCurrentTime(0);
        player->play();
        checkTimes(*player);
    }
    return 0;
}

} // namespace sondrel::fuzz
