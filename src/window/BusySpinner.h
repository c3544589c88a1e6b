#pragma once
// A small round busy indicator (the loading indicator beside the search field and the
// sign-in spinners). It turns only while it is visible, so a hidden spinner costs no
// CPU.
//
// Main thread only (a widget).

#include <QTimer>
#include <QWidget>

namespace sondrel {

class BusySpinner : public QWidget {
    Q_OBJECT

public:
    explicit BusySpinner(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {16, 16}; }
    // The progress indicator's start/stop: shows or hides it.
    void startAnimation() { show(); }
    void stopAnimation() { hide(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer turn;
    int step = 0;
};

} // namespace sondrel
