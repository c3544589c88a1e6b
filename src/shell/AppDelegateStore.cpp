// AppDelegate's song cache store stack: the lazily built model, coordinator and context,
// the save command and the quit logic with its dialogs.

#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "shell/AppDelegate.h"
#include "shell/SongStoreContext.h"
#include "shell/SongStoreCoordinator.h"
#include "shell/SongStoreModel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace sondrel {
namespace {

StoreError posixError(int code, const QString& description) {
    return {QString::fromLatin1(kPosixErrorDomain), code, description,
            QString::fromLocal8Bit(std::strerror(code))};
}

} // namespace

QString AppDelegate::applicationFilesDirectory() const {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base).filePath(QString::fromLatin1(kApplicationId));
}

const SongStoreModel* AppDelegate::managedObjectModel() {
    if (model == nullptr) {
        model = &SongStoreModel::standard();
    }
    return model;
}

SongStoreCoordinator* AppDelegate::persistentStoreCoordinator() {
    if (coordinator) {
        return coordinator.get();
    }
    const SongStoreModel* mom = managedObjectModel();
    if (mom == nullptr) {
        logLine(QStringLiteral("AppDelegate:persistentStoreCoordinator No model to generate a "
                               "store from"));
        return nullptr;
    }

    const QString folder = applicationFilesDirectory();
    const QByteArray encoded = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(encoded.constData(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            presentError({QString::fromLatin1(kAppErrorDomain),
                          kAppErrorFoundFileForFolder,
                          QStringLiteral("Expected a folder to store application data, found a "
                                         "file (%1).")
                              .arg(folder),
                          {}});
            return nullptr;
        }
    } else if (errno == ENOENT) {
        std::error_code created;
        std::filesystem::create_directories(std::filesystem::path(encoded.toStdString()), created);
        if (created) {
            presentError(
                posixError(created.value(),
                           QStringLiteral("The folder \"%1\" could not be created.").arg(folder)));
            return nullptr;
        }
    } else {
        presentError(
            posixError(errno, QStringLiteral("The folder \"%1\" could not be read.").arg(folder)));
        return nullptr;
    }

    StoreError error;
    coordinator = SongStoreCoordinator::addStore(
        *mom, QDir(folder).filePath(QString::fromLatin1(kSongStoreFileName)), &error);
    if (!coordinator) {
        presentError(error);
        return nullptr;
    }
    return coordinator.get();
}

SongStoreContext* AppDelegate::managedObjectContext() {
    if (context) {
        return context.get();
    }
    SongStoreCoordinator* store = persistentStoreCoordinator();
    if (store == nullptr) {
        presentError({QString::fromLatin1(kAppErrorDomain), kAppErrorStoreNotInitialized,
                      QStringLiteral("Failed to initialize the store"),
                      QStringLiteral("There was an error building up the data file.")});
        return nullptr;
    }
    context = std::make_unique<SongStoreContext>(store);
    return context.get();
}

QUndoStack* AppDelegate::windowWillReturnUndoManager(QWidget* /*window*/) {
    SongStoreContext* moc = managedObjectContext();
    return moc ? moc->undoManager() : nullptr;
}

void AppDelegate::saveAction(QObject* /*sender*/) {
    SongStoreContext* moc = managedObjectContext();
    if (moc == nullptr) {
        return;
    }
    if (!moc->commitEditing()) {
        logLine(QStringLiteral("AppDelegate:saveAction unable to commit editing before saving"));
    }
    StoreError error;
    if (!moc->save(&error)) {
        presentError(error);
    }
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate(QObject* /*application*/) {
    if (!context) {
        return TerminateReply::TerminateNow; // nothing was ever loaded, nothing is unsaved
    }
    if (!context->commitEditing()) {
        logLine(QStringLiteral("AppDelegate:applicationShouldTerminate unable to commit editing "
                               "to terminate"));
        return TerminateReply::TerminateCancel;
    }
    if (!context->hasChanges()) {
        return TerminateReply::TerminateNow;
    }
    StoreError error;
    if (context->save(&error)) {
        return TerminateReply::TerminateNow;
    }
    if (presentError(error)) {
        return TerminateReply::TerminateCancel;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        // Nobody can be asked: keep the changes rather than drop them silently.
        logLine(QStringLiteral("Could not save changes while quitting; quitting cancelled"));
        return TerminateReply::TerminateCancel;
    }
    QMessageBox alert(windowRef.data());
    alert.setIcon(QMessageBox::Warning);
    alert.setText(tr("Could not save changes while quitting. Quit anyway?"));
    alert.setInformativeText(
        tr("Quitting now will lose any changes you have made since the last successful save"));
    QPushButton* quit = alert.addButton(tr("Quit anyway"), QMessageBox::AcceptRole);
    alert.addButton(tr("Cancel"), QMessageBox::RejectRole);
    alert.setDefaultButton(quit);
    alert.exec();
    return alert.clickedButton() == quit ? TerminateReply::TerminateNow
                                         : TerminateReply::TerminateCancel;
}

void AppDelegate::watchApplicationQuit(QCoreApplication* app) {
    app->installEventFilter(this);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        if (askingToTerminate) {
            return true; // a second request while the first one asks the user
        }
        askingToTerminate = true;
        const TerminateReply reply = applicationShouldTerminate(watched);
        askingToTerminate = false;
        if (reply == TerminateReply::TerminateCancel) {
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool AppDelegate::presentError(const StoreError& error) {
    logLine(QStringLiteral("%1 (%2 %3) %4")
                .arg(error.localizedDescription, error.domain)
                .arg(error.code)
                .arg(error.failureReason));
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    QMessageBox box(windowRef.data());
    box.setIcon(QMessageBox::Critical);
    box.setText(error.localizedDescription);
    box.setInformativeText(error.failureReason);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return false;
}

} // namespace sondrel
