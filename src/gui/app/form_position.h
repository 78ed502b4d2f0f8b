#pragma once

class QWidget;

namespace pellora {

// Puts a top-level window in the middle of the screen that its owner is on (the
// primary screen without an owner), instead of over its owner as dialogs open by
// default. Call once the window has its size; a window that has been placed keeps
// its place when it is shown again.
void CentreOnScreen(QWidget* window);

}  // namespace pellora
