#pragma once
// Qt's own texts that reach the operator (the text fields' context menu, the file dialog, the
// standard buttons) in the window's language: the project's translation of them, which start-up
// installs.

class QTranslator;

namespace tollan {

// The loaded translation, or nullptr when the program's resources lack it.
QTranslator* Ui_QtTexts();

} // namespace tollan
