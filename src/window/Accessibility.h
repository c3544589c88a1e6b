#pragma once
// The main window for screen readers and the keyboard: every control's accessible name
// and description, names and states that follow what the controls show (Play or Pause;
// repeat, shuffle and status broadcast on or off, read from the image each button
// shows), a Tab order that follows the window from top left to bottom right, and
// buttons that Space and Enter press once they have the keyboard.
//
// The song table speaks for itself (SongTableAccessible.h). Everything here is set once
// at window set-up and is cheap: Qt makes accessibility interfaces only when a screen
// reader (or a test) asks for them.
//
// Main thread only.

namespace Ui {
class MainWindow;
}

namespace sondrel {

// Call once, after the window's controls exist and are connected.
void setUpAccessibility(Ui::MainWindow& ui);

} // namespace sondrel
