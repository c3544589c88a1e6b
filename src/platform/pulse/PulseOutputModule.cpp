// The sound module: the desktop's sound device through our own PulseAudio client
// (PulseAudioOutput.h). Loaded on first need (AudioOutputModule.h), so that a start of
// the player never loads the sound server's client libraries.

#include "platform/AudioOutputModule.h"
#include "platform/pulse/PulseAudioOutput.h"

#include <QCoreApplication>

namespace sondrel {
namespace {

class PulseOutputModule : public QObject, public AudioOutputModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID SONDREL_AUDIO_OUTPUT_MODULE_IID)
    Q_INTERFACES(sondrel::AudioOutputModule)

public:
    std::unique_ptr<AudioOutput> createOutput() override {
        QString name = QCoreApplication::applicationName();
        return std::make_unique<PulseAudioOutput>(name.isEmpty() ? QStringLiteral("Sondrel")
                                                                 : name);
    }
};

} // namespace
} // namespace sondrel

#include "PulseOutputModule.moc"
