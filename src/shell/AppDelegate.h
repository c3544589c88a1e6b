#pragma once
// The application delegate: the process-wide shared instance that answers the
// application's launch and activation events and the notification centre's question,
// fronts the settings store for the rest of the player, and owns the song cache store's
// stack (model, coordinator, context), built lazily on the first request for the
// context, with the save command and the question whether the player may quit.
//
// Lives on the main thread; the two settings operations may be called from any thread.
// The stack fields belong to the main thread.

#include "platform/SharedInstance.h"

#include <QObject>
#include <QPointer>
#include <QVariant>
#include <memory>

class QCoreApplication;
class QUndoStack;
class QWidget;

namespace sondrel {

class SongStoreContext;
class SongStoreCoordinator;
class SongStoreModel;
struct StoreError;

inline constexpr const char* kSongStoreFileName = "Sondrel.storedata";

class AppDelegate : public QObject, public SharedInstance<AppDelegate> {
    Q_OBJECT

public:
    // Becomes the shared instance; a second creation logs
    // "Error: You are creating a second AppDelegate. Bad Olvik" and replaces the first.
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // The stored value under `key`, or an invalid QVariant when the key is absent.
    static QVariant getObjectWithKey(const QString& key);
    // Stores `object` under `key`; written through to disk before returning. A failed
    // write is logged by the store and otherwise ignored here.
    static void saveObjectWithKey(const QVariant& object, const QString& key);

    // Launch finished. Nothing to arrange: desktop notification services show a
    // player's notifications while it is in front without being asked.
    void applicationDidFinishLaunching() {}
    // Every activation: the shared cookie jar accepts every cookie.
    void applicationDidBecomeActive();
    // Song notifications are shown even while the player is in front.
    bool userNotificationCenterShouldPresentNotification() const { return true; }

    QWidget* window() const;
    void setWindow(QWidget* window);

    // --- Song cache store stack (main thread) ---

    // The application data folder ($XDG_DATA_HOME/<application id>); not created here.
    QString applicationFilesDirectory() const;
    // The object model (built into the player).
    const SongStoreModel* managedObjectModel();
    // The coordinator over "Sondrel.storedata", made on first use: creates a missing data
    // folder, presents error 101 when a file stands in its place, presents the store's
    // own error when the file cannot be used. Null on failure (the next call tries again).
    SongStoreCoordinator* persistentStoreCoordinator();
    // The one context; presents error 9999 and answers null when there is no coordinator.
    SongStoreContext* managedObjectContext();
    // The context's undo manager (builds the stack).
    QUndoStack* windowWillReturnUndoManager(QWidget* window);
    // The menu's save command: commits pending edits and saves; presents a failure.
    void saveAction(QObject* sender = nullptr);

    enum class TerminateReply { TerminateNow, TerminateCancel };
    // Saves unsaved changes before quitting. When saving fails the error is presented,
    // then the user is asked "Could not save changes while quitting. Quit anyway?".
    TerminateReply applicationShouldTerminate(QObject* application = nullptr);
    // Puts applicationShouldTerminate in front of every quit request of `app`: a
    // cancelled answer drops the request.
    void watchApplicationQuit(QCoreApplication* app);

    // Shows the error in a message box (logged as well); answers whether the error was
    // dealt with, which a message box without recovery options never does. Without a
    // widget application the error is only logged.
    bool presentError(const StoreError& error);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> windowRef;

    // Stack, main thread. The context goes before the coordinator it uses.
    const SongStoreModel* model = nullptr;
    std::unique_ptr<SongStoreCoordinator> coordinator;
    std::unique_ptr<SongStoreContext> context;
    bool askingToTerminate = false;
};

} // namespace sondrel
