#pragma once

class QApplication;

namespace pellora {

// Process-wide settings of the program, made before its first window: names (the
// per-user store is found by them), the forms' font, the window icon and Qt's
// own texts in Japanese.
void SetUpApplication(QApplication& app);

}  // namespace pellora
