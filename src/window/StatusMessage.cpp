#include "window/StatusMessage.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSizePolicy>

namespace sondrel {

StatusMessage::StatusMessage(QBoxLayout* layout, QObject* parent)
    : QObject(parent), line(new QLabel) {
    line->setObjectName(QStringLiteral("statusMessage"));
    line->setAccessibleName(tr("Message"));
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(false);
    // A long text is cut at the window's edge; it never widens the window.
    line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    line->setMargin(4);
    line->setStyleSheet(
        QStringLiteral("QLabel#statusMessage { background: #fff4d6; color: #5c4400; }"));
    line->hide();
    if (layout != nullptr) {
        layout->addWidget(line);
    }
}

void StatusMessage::show(Topic topic, const QString& text) {
    if (!line) {
        return;
    }
    shownTopic = topic;
    QString shown = text.simplified();
    if (shown.size() > kLongestText) {
        shown = shown.left(kLongestText - 1) + QChar(0x2026);
    }
    line->setText(shown);
    line->setToolTip(text.left(4 * kLongestText));
    line->show();
}

void StatusMessage::resolve(Topic topic) {
    if (isShown() && shownTopic == topic) {
        line->hide();
        line->clear();
    }
}

bool StatusMessage::isShown() const {
    return line && !line->isHidden();
}

QString StatusMessage::text() const {
    return isShown() ? line->text() : QString();
}

} // namespace sondrel
