// The backend named by SONDREL_AUDIO_OUTPUT.

#include "platform/AudioOutput.h"

#include "platform/AudioOutputClocked.h"
#include "platform/Log.h"

namespace sondrel {
namespace {

// "null:fast": a 20 s song is over in one second.
constexpr int kFastSpeed = 20;
// Beyond this the decoder, not the clock, sets the pace.
constexpr int kMaxFastSpeed = 100;

} // namespace

std::unique_ptr<AudioOutput> createAudioOutput(const QString& spec) {
    QString name = spec;
    if (name.isEmpty()) {
        name = qEnvironmentVariable("SONDREL_AUDIO_OUTPUT");
    }
    if (name.isEmpty() || name == QLatin1String("pulse")) {
        return createPulseAudioOutput();
    }
    if (name == QLatin1String("null")) {
        return std::make_unique<NullAudioOutput>();
    }
    if (name == QLatin1String("null:fast")) {
        return std::make_unique<NullAudioOutput>(kFastSpeed);
    }
    if (name.startsWith(QLatin1String("null:fast="))) {
        bool ok = false;
        const int speed = name.mid(10).toInt(&ok);
        if (ok && speed >= 1 && speed <= kMaxFastSpeed) {
            return std::make_unique<NullAudioOutput>(speed);
        }
    }
    if (name.startsWith(QLatin1String("wav:")) && name.size() > 4) {
        return createWavAudioOutput(name.mid(4));
    }
    logLine(QStringLiteral("Unknown audio output \"%1\"; playing without sound").arg(name));
    return std::make_unique<NullAudioOutput>();
}

} // namespace sondrel
