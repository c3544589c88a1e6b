#include "mediakeys/MprisAdaptors.h"

#include "mediakeys/MprisService.h"
#include "platform/AppPaths.h"

namespace sondrel {

MprisRootAdaptor::MprisRootAdaptor(QObject* object, MprisService* s)
    : QDBusAbstractAdaptor(object), service(s) {}

QString MprisRootAdaptor::identity() const {
    return QString::fromLatin1(kApplicationName);
}

QString MprisRootAdaptor::desktopEntry() const {
    return QString::fromLatin1(kApplicationId);
}

void MprisRootAdaptor::Raise() {
    service->control().raise();
}

void MprisRootAdaptor::Quit() {
    service->control().quit();
}

MprisPlayerAdaptor::MprisPlayerAdaptor(QObject* object, MprisService* s)
    : QDBusAbstractAdaptor(object), service(s) {}

QString MprisPlayerAdaptor::playbackStatus() const {
    return MprisService::playbackStatusText(service->state().status);
}

QString MprisPlayerAdaptor::loopStatus() const {
    return MprisService::loopStatusText(service->state().repeatOneSong);
}

void MprisPlayerAdaptor::setLoopStatus(const QString& value) {
    service->setLoopStatus(value);
}

bool MprisPlayerAdaptor::shuffle() const {
    return service->state().shuffle;
}

void MprisPlayerAdaptor::setShuffle(bool value) {
    service->setShuffle(value);
}

QVariantMap MprisPlayerAdaptor::metadata() const {
    return MprisService::metadataFor(service->state().song);
}

double MprisPlayerAdaptor::volume() const {
    return service->state().volume;
}

void MprisPlayerAdaptor::setVolume(double value) {
    service->setVolume(value);
}

qlonglong MprisPlayerAdaptor::position() const {
    return service->state().positionUs;
}

bool MprisPlayerAdaptor::canGoNext() const {
    return service->state().canGoNext;
}

bool MprisPlayerAdaptor::canGoPrevious() const {
    return service->state().canGoPrevious;
}

bool MprisPlayerAdaptor::canPlay() const {
    return service->state().canPlay;
}

bool MprisPlayerAdaptor::canPause() const {
    return service->state().canPause;
}

bool MprisPlayerAdaptor::canSeek() const {
    return service->state().canSeek;
}

void MprisPlayerAdaptor::Next() {
    service->control().next();
    service->playerStateChanged();
}

void MprisPlayerAdaptor::Previous() {
    service->control().previous();
    service->playerStateChanged();
}

void MprisPlayerAdaptor::Pause() {
    service->control().pause();
    service->playerStateChanged();
}

void MprisPlayerAdaptor::PlayPause() {
    service->control().playPause();
    service->playerStateChanged();
}

void MprisPlayerAdaptor::Stop() {
    service->control().stop();
    service->playerStateChanged();
}

void MprisPlayerAdaptor::Play() {
    service->control().play();
    service->playerStateChanged();
}

void MprisPlayerAdaptor::Seek(qlonglong Offset) {
    service->seek(Offset);
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
    service->setPosition(TrackId.path(), Position);
}

void MprisPlayerAdaptor::OpenUri(const QString&) {
    // The player plays songs of its lists only; SupportedUriSchemes is empty.
}

} // namespace sondrel
