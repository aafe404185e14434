#include "support/msgbox.h"

#include "support/clock.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/text.h"

#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>

#include <cstdio>
#include <functional>

namespace tollan {

namespace {

bool g_headless = false;

struct ButtonSet {
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton byDefault;
};

ButtonSet ButtonsOf(int flags)
{
    switch (flags & 7) {
    case 1: return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok};
    case 2: return {QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, QMessageBox::Abort};
    case 3: return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes};
    case 4: return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes};
    case 5: return {QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry};
    default: return {QMessageBox::Ok, QMessageBox::Ok};
    }
}

QMessageBox::Icon IconOf(int flags)
{
    switch (flags & 0x70) {
    case 16: return QMessageBox::Critical;
    case 32: return QMessageBox::Question;
    case 48: return QMessageBox::Warning;
    case 64: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

int CodeOf(int button)
{
    switch (button) {
    case QMessageBox::Ok: return 1;
    case QMessageBox::Cancel: return 2;
    case QMessageBox::Abort: return 3;
    case QMessageBox::Retry: return 4;
    case QMessageBox::Ignore: return 5;
    case QMessageBox::Yes: return 6;
    case QMessageBox::No: return 7;
    default: return 2;  // closed without a button: as Cancel
    }
}

// One line for stderr and the log: the box's line breaks become " / ".
std::string OneLine(std::string_view text)
{
    std::string s = Str_Replace(Str_Replace(Str_Replace(text, "\r\n", " / "), "\r", " / "), "\n", " / ");
    return s;
}

int Box(std::string_view text, int flags, bool logIt)
{
    if (g_headless || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        const std::string line = OneLine(text);
        std::fprintf(stderr, "%s: %s\n", App_ProductName().c_str(), Text_Cp1252ToUtf8(line).c_str());
        if (logIt) {
            QFile file(Err_LogPath());
            if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
                const QDateTime now = Clock_Now();
                const DateTime t{now.date().year(), now.date().month(), now.date().day(), now.time().hour(),
                                 now.time().minute(), now.time().second()};
                const std::string utf8 = Text_Cp1252ToUtf8("<" + App_ProductName() + ">\t" + line + " , " + Date_Long(t)
                                                           + " kell " + Fmt_DateTime(t, "hh:nn:ss"))
                    + "\r\n";
                file.write(utf8.data(), static_cast<qint64>(utf8.size()));
            }
        }
        return Msg_DefaultButton(flags);
    }
    const ButtonSet set = ButtonsOf(flags);
    QMessageBox box(IconOf(flags), Text_ToQString(App_ProductName()), Text_ToQString(Str_Replace(text, "\r", "\n")),
                    set.buttons);
    box.setDefaultButton(set.byDefault);
    return CodeOf(box.exec());
}

} // namespace

int Msg_BoxUnlogged(std::string_view text, int flags) { return Box(text, flags, false); }

int Msg_DefaultButton(int flags) { return CodeOf(ButtonsOf(flags).byDefault); }

int Msg_Box(std::string_view text, int flags) { return Box(text, flags, true); }

void Msg_Show(std::string_view text, int flags) { Msg_Box(text, flags); }

static std::function<std::string(std::string_view)>& HeadlessInput()
{
    static std::function<std::string(std::string_view)> answer;
    return answer;
}

std::string Inp_Box(std::string_view prompt, std::string_view def)
{
    if (g_headless || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (HeadlessInput())
            return HeadlessInput()(prompt);
        std::fprintf(stderr, "%s: %s (no operator: empty answer)\n", App_ProductName().c_str(),
                     Text_Cp1252ToUtf8(OneLine(prompt)).c_str());
        return {};
    }
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, Text_ToQString(App_ProductName()),
                                               Text_ToQString(Str_Replace(prompt, "\r", "\n")), QLineEdit::Normal,
                                               Text_ToQString(def), &ok);
    return ok ? Text_FromQString(text) : std::string();
}

void Ui_SetHeadless(bool headless) { g_headless = headless; }
void Ui_SetHeadlessInput(std::function<std::string(std::string_view prompt)> answer) { HeadlessInput() = std::move(answer); }
bool Ui_Headless() { return g_headless; }

} // namespace tollan
