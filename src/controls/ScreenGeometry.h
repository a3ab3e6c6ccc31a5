// Placing the program's full-screen windows and their centred panels.
#pragma once

class QWidget;

// Where a panel of size inner starts inside a window of size outer to sit in
// the middle: (outer − inner) div 2, rounding toward zero.  Negative when the
// window is the smaller, so that the panel is cut off evenly on both sides.
constexpr int centredOffset(int outer, int inner) { return (outer - inner) / 2; }

// Makes a borderless window cover its whole screen.  Sets the geometry as well
// as the window state, since without a window manager a state alone changes
// nothing.
void coverScreen(QWidget& window);

// Moves a window, frame included, to the middle of its screen.
void centreOnScreen(QWidget& window);
