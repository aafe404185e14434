#pragma once
// The operator's message and input boxes, titled with the product name. Style flags add up: buttons
// 0 OK, 1 OK/Cancel, 2 Abort/Retry/Ignore, 3 Yes/No/Cancel, 4 Yes/No, 5 Retry/Cancel; icons 16 stop,
// 32 question, 48 exclamation, 64 information. Results: 1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore,
// 6 Yes, 7 No. Default button: the first, or with 256 the second, with 512 the third. In headless mode nothing blocks: the box is written to stderr (and to the error log
// when it is no error report) and returns its default button; an input box returns empty text.

#include <functional>

class QWidget;
#include <string>
#include <string_view>

namespace tollan {

int Msg_Box(std::string_view text, int flags);
// The same over another window than the main one (a dialog's own question over the dialog).
int Msg_BoxOver(QWidget* over, std::string_view text, int flags);
// The same box without waiting for it: `done` hears the pressed button's code when the operator
// answers (headless: the default, at once). Returns the box (nullptr headless) for the caller to
// close when the answer is no longer wanted; it deletes itself when closed.
QWidget* Msg_Open(std::string_view text, int flags, std::function<void(int code)> done);
void Msg_Show(std::string_view text, int flags);
std::string Inp_Box(std::string_view prompt, std::string_view def);

void Ui_SetHeadless(bool headless);
// The window the boxes open over (the main window); none: the screen's middle.
void Ui_SetMainWindow(QWidget* window);
bool Ui_Headless();
// What a headless input box answers instead of empty text (tests playing the operator).
void Ui_SetHeadlessInput(std::function<std::string(std::string_view prompt)> answer);

// The default button of a style, the answer of a headless box.
int Msg_DefaultButton(int flags);

} // namespace tollan
