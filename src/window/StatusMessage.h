#pragma once
// The window's message line: one short line at the foot of the window that says what
// went wrong where before only a log line on stderr did (the service cannot be reached,
// its certificate is not trusted, it answered with an error or with something that is
// not an answer, the settings cannot be saved, the service information file was
// refused, a song cannot be played, the profile status cannot be sent).
//
// It is not a dialog: nothing waits for the user. Each message replaces the one shown,
// and the line disappears when the thing it spoke of works again (resolve). While no
// message is shown the line takes no room.
//
// Main thread only. Owned by the window's controller; the label is a child of the
// window's central widget.

#include <QObject>
#include <QPointer>
#include <QString>

class QBoxLayout;
class QLabel;

namespace sondrel {

class StatusMessage : public QObject {
    Q_OBJECT

public:
    // What a message speaks of; the same thing working again takes it away.
    enum class Topic {
        Service,     // list requests: network, certificate, service errors, odd answers
        ServiceInfo, // the service information file
        Settings,    // saving the settings
        Playback,    // fetching or decoding a song
        Status,      // publishing the profile status (status.set)
    };

    // The longest text shown; the whole text is the line's tooltip.
    static constexpr qsizetype kLongestText = 200;

    // Adds the (hidden) line at the end of `layout`.
    StatusMessage(QBoxLayout* layout, QObject* parent = nullptr);

    // Shows `text` about `topic` in place of whatever was shown.
    void show(Topic topic, const QString& text);
    // `topic` works again: the line goes when it speaks of that.
    void resolve(Topic topic);

    bool isShown() const;
    QString text() const;
    Topic topic() const { return shownTopic; }
    QLabel* label() const { return line; }

private:
    QPointer<QLabel> line;
    Topic shownTopic = Topic::Service;
};

} // namespace sondrel
