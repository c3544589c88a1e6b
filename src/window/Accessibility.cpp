#include "window/Accessibility.h"

#include "ui_MainWindow.h"
#include "window/Images.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <array>

namespace sondrel {
namespace {

constexpr const char* kContext = "Accessibility";
// A button whose image tells an on/off state ("repeat" / "repeat_off").
constexpr const char* kToggleProperty = "accessibleToggle";

QString translated(const char* text) {
    return QCoreApplication::translate(kContext, text);
}

bool isOn(const QAbstractButton* button) {
    const QString image = buttonImageName(button);
    return !image.isEmpty() && !image.endsWith(QLatin1String("_off"));
}

// A button that shows an on/off state through its image: screen readers see a toggle
// button, checked while the image is the "on" one.
class ToggleButtonAccessible : public QAccessibleWidget {
public:
    explicit ToggleButtonAccessible(QAbstractButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = isOn(button());
        return state;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction(), toggleAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction() || actionName == toggleAction()) {
            button()->click();
        } else {
            QAccessibleWidget::doAction(actionName);
        }
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* makeToggleInterface(const QString& className, QObject* object) {
    auto* button = qobject_cast<QAbstractButton*>(object);
    if (button == nullptr || !button->property(kToggleProperty).toBool() ||
        className != QLatin1String(object->metaObject()->className())) {
        return nullptr;
    }
    return new ToggleButtonAccessible(button);
}

// Follows the images the controller gives the player buttons: the play button's name
// says what a press does, a toggle's state what it is, and the row of the current song
// says whether it plays.
class ButtonWatcher : public QObject {
public:
    ButtonWatcher(Ui::MainWindow& ui, QObject* parent) : QObject(parent), ui(ui) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::DynamicPropertyChange &&
            static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == "imageName") {
            imageChanged(static_cast<QAbstractButton*>(watched));
        } else if (event->type() == QEvent::ShortcutOverride) {
            // Space presses the button that has the keyboard, before the window's Space
            // (play or pause) sees it.
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
                event->accept();
            }
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                static_cast<QAbstractButton*>(watched)->animateClick();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void imageChanged(QAbstractButton* button) {
        if (button == ui.playButton) {
            const bool playing = buttonImageName(button) == QLatin1String("pauseBig");
            button->setAccessibleName(playing ? translated("Pause") : translated("Play"));
            ui.songsTableView->rowTextsChanged(ui.songsTableView->selectedRow());
        } else if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.checked = true;
            QAccessibleStateChangeEvent stateEvent(button, changed);
            QAccessible::updateAccessibility(&stateEvent);
        }
    }

    Ui::MainWindow& ui;
};

struct Naming {
    QWidget* widget;
    const char* name;        // empty: the control's own text is its name
    const char* description; // empty: none
};

} // namespace

void setUpAccessibility(Ui::MainWindow& ui) {
    static const bool factoryInstalled = (QAccessible::installFactory(makeToggleInterface), true);
    Q_UNUSED(factoryInstalled);
    // Before anything asks for their interfaces (Qt keeps the first one it makes).
    for (QAbstractButton* toggle : {static_cast<QAbstractButton*>(ui.repeatButton),
                                    static_cast<QAbstractButton*>(ui.shuffleButton),
                                    static_cast<QAbstractButton*>(ui.translateButton)}) {
        toggle->setProperty(kToggleProperty, true);
    }

    const std::array namings{
        Naming{ui.backwardButton, QT_TRANSLATE_NOOP("Accessibility", "Previous song"),
               QT_TRANSLATE_NOOP("Accessibility", "Plays the song before this one")},
        Naming{ui.playButton, QT_TRANSLATE_NOOP("Accessibility", "Play"),
               QT_TRANSLATE_NOOP("Accessibility", "Plays or pauses the song")},
        Naming{ui.forwardButton, QT_TRANSLATE_NOOP("Accessibility", "Next song"),
               QT_TRANSLATE_NOOP("Accessibility", "Plays the next song")},
        Naming{ui.currentSongTitle, "", QT_TRANSLATE_NOOP("Accessibility", "Now playing")},
        Naming{ui.progressSlider, QT_TRANSLATE_NOOP("Accessibility", "Position"),
               QT_TRANSLATE_NOOP("Accessibility", "Where the song is; moving it seeks")},
        Naming{ui.currentSongTimeLeft, "", QT_TRANSLATE_NOOP("Accessibility", "Time left")},
        Naming{ui.volumeSlider, QT_TRANSLATE_NOOP("Accessibility", "Volume"), ""},
        Naming{ui.searchFieldCell, QT_TRANSLATE_NOOP("Accessibility", "Search"),
               QT_TRANSLATE_NOOP("Accessibility",
                                 "Words to search for, then Enter; empty shows my songs")},
        Naming{ui.progressIndicator, QT_TRANSLATE_NOOP("Accessibility", "Loading songs"), ""},
        Naming{ui.repeatButton, QT_TRANSLATE_NOOP("Accessibility", "Repeat"),
               QT_TRANSLATE_NOOP("Accessibility", "Plays the same song again when it ends")},
        Naming{ui.shuffleButton, QT_TRANSLATE_NOOP("Accessibility", "Shuffle"),
               QT_TRANSLATE_NOOP("Accessibility", "Plays the songs in random order")},
        Naming{ui.translateButton, QT_TRANSLATE_NOOP("Accessibility", "Status broadcast"),
               QT_TRANSLATE_NOOP("Accessibility", "Shows the song playing in my profile status")},
        Naming{ui.loginPopoverDot, QT_TRANSLATE_NOOP("Accessibility", "Sign in"),
               QT_TRANSLATE_NOOP("Accessibility", "Opens the service's sign-in page")},
        Naming{ui.translateCaptchaView, QT_TRANSLATE_NOOP("Accessibility", "Captcha"),
               QT_TRANSLATE_NOOP("Accessibility", "The service asks for the letters in a picture")},
        Naming{ui.translateCaptchaImageView, QT_TRANSLATE_NOOP("Accessibility", "Captcha picture"),
               ""},
        Naming{ui.translateCaptchaTextfield, QT_TRANSLATE_NOOP("Accessibility", "Captcha answer"),
               QT_TRANSLATE_NOOP("Accessibility", "The letters in the picture, then Enter")},
        Naming{
            ui.songsTableView, QT_TRANSLATE_NOOP("Accessibility", "Songs"),
            QT_TRANSLATE_NOOP("Accessibility", "Up and Down move, Enter plays or pauses the song")},
        Naming{ui.twitterButton, "",
               QT_TRANSLATE_NOOP("Accessibility", "Opens the author's profile on Twitter")},
        Naming{ui.facebookButton, "",
               QT_TRANSLATE_NOOP("Accessibility", "Opens the author's profile on Facebook")},
        Naming{ui.linkedinButton, "",
               QT_TRANSLATE_NOOP("Accessibility", "Opens the author's profile on LinkedIn")},
        Naming{ui.loadingBar, QT_TRANSLATE_NOOP("Accessibility", "Loading"), ""},
        Naming{ui.popover, QT_TRANSLATE_NOOP("Accessibility", "Sign in"), ""},
        Naming{ui.loginWebView, QT_TRANSLATE_NOOP("Accessibility", "Sign-in page"), ""},
        Naming{ui.loginSpinner, QT_TRANSLATE_NOOP("Accessibility", "Signing in"), ""},
        Naming{ui.loginSmallSpinner1, QT_TRANSLATE_NOOP("Accessibility", "Working"), ""},
        Naming{ui.loginSmallSpinner2, QT_TRANSLATE_NOOP("Accessibility", "Working"), ""},
    };
    for (const Naming& naming : namings) {
        if (*naming.name != '\0') {
            naming.widget->setAccessibleName(translated(naming.name));
        }
        if (*naming.description != '\0') {
            naming.widget->setAccessibleDescription(translated(naming.description));
        }
    }
    if (auto* clear =
            ui.searchFieldCell->findChild<QAction*>(QStringLiteral("searchClearAction"))) {
        clear->setText(translated(QT_TRANSLATE_NOOP("Accessibility", "Clear the search")));
    }

    // Tab goes through the window as it reads: the player bar, the tools bar, the
    // captcha (while it shows), the songs and the share buttons. Buttons and sliders take
    // the keyboard only from Tab, so a click leaves it where it was (Space still plays).
    const std::array<QWidget*, 15> order{ui.backwardButton,
                                         ui.playButton,
                                         ui.forwardButton,
                                         ui.progressSlider,
                                         ui.volumeSlider,
                                         ui.searchFieldCell,
                                         ui.repeatButton,
                                         ui.shuffleButton,
                                         ui.translateButton,
                                         ui.loginPopoverDot,
                                         ui.translateCaptchaTextfield,
                                         ui.songsTableView,
                                         ui.twitterButton,
                                         ui.facebookButton,
                                         ui.linkedinButton};
    auto* watcher = new ButtonWatcher(ui, ui.centralwidget);
    for (QWidget* widget : order) {
        if (qobject_cast<QAbstractButton*>(widget) != nullptr) {
            widget->setFocusPolicy(Qt::TabFocus);
            widget->installEventFilter(watcher);
        } else if (qobject_cast<QAbstractSlider*>(widget) != nullptr) {
            widget->setFocusPolicy(Qt::TabFocus);
        }
    }
    ui.songsTableView->setFocusPolicy(Qt::StrongFocus);
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

} // namespace sondrel
