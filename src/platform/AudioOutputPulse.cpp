// The desktop's sound device, from the sound module loaded by the first output made.
// Without the module every output fails to start, saying why, and the player goes on
// without sound.

#include "platform/AudioOutputClocked.h"
#include "platform/AudioOutputModule.h"
#include "platform/Modules.h"

namespace sondrel {
namespace {

class UnavailableAudioOutput : public AudioOutput {
public:
    explicit UnavailableAudioOutput(QString reason) : reason(std::move(reason)) {}

    bool start(const AudioFormat& /*format*/) override { return false; }
    std::int64_t bytesFree() const override { return 0; }
    std::int64_t write(const char* /*data*/, std::int64_t /*length*/) override { return 0; }
    std::int64_t playedFrames() const override { return 0; }
    std::int64_t bufferedFrames() const override { return 0; }
    void pause() override {}
    void resume() override {}
    void stop() override {}
    void setVolume(double /*volume*/) override {}
    bool failed() const override { return true; }
    QString errorString() const override { return reason; }

private:
    QString reason;
};

} // namespace

std::unique_ptr<AudioOutput> createPulseAudioOutput() {
    QString error;
    auto* module = qobject_cast<AudioOutputModule*>(
        loadModule(QStringLiteral("sondrel-pulse-output.so"), &error));
    if (module == nullptr) {
        return std::make_unique<UnavailableAudioOutput>(
            QStringLiteral("the sound module cannot be loaded (%1)").arg(error));
    }
    return module->createOutput();
}

} // namespace sondrel
