#pragma once

class QCoreApplication;

namespace pellora {

// Loads Qt's own Japanese texts (standard buttons, file dialogs, edit menus) into
// `app`, so that what the toolkit draws reads Japanese like the program's own
// texts. Call before the first window is created. False, with a line on standard
// error, when the translation is not installed; the texts then stay English.
bool InstallQtTranslation(QCoreApplication& app);

}  // namespace pellora
