#include "support/msgbox.h"

#include "support/cardmask.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/text.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <cstdio>
#include <functional>
#include <vector>

namespace tollan {

namespace {

bool g_headless = false;

QPointer<QWidget> g_mainWindow;

struct ButtonSet {
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton byDefault;
};

ButtonSet ButtonsOf(int flags)
{
    using B = QMessageBox::StandardButton;
    // The buttons in their order; 256 makes the second the default, 512 the third.
    std::vector<B> order;
    switch (flags & 7) {
    case 1: order = {B::Ok, B::Cancel}; break;
    case 2: order = {B::Abort, B::Retry, B::Ignore}; break;
    case 3: order = {B::Yes, B::No, B::Cancel}; break;
    case 4: order = {B::Yes, B::No}; break;
    case 5: order = {B::Retry, B::Cancel}; break;
    default: order = {B::Ok}; break;
    }
    QMessageBox::StandardButtons all;
    for (B b : order)
        all |= b;
    const std::size_t chosen = std::size_t((flags & 0x300) >> 8);
    return {all, order[chosen < order.size() ? chosen : 0]};
}

// The terminal speaks Estonian, its boxes too.
void EstonianButtons(QMessageBox& box)
{
    const std::pair<QMessageBox::StandardButton, const char*> names[] = {
        {QMessageBox::Ok, "OK"}, {QMessageBox::Cancel, "Loobu"}, {QMessageBox::Yes, "Jah"},
        {QMessageBox::No, "Ei"}, {QMessageBox::Abort, "Katkesta"}, {QMessageBox::Retry, "Proovi uuesti"},
        {QMessageBox::Ignore, "Jäta vahele"}};
    for (const auto& [button, name] : names)
        if (QAbstractButton* b = box.button(button))
            b->setText(QString::fromUtf8(name));
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

int Box(std::string_view text, int flags, bool logIt, QWidget* over = nullptr)
{
    if (g_headless || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // The journal and tollan.err keep it: a card number in it is masked.
        const std::string line = Card_MaskText(OneLine(text));
        // With its level, as the journal reads it: the box's icon says how grave it is.
        std::fprintf(stderr, "<%d>%s: %s\n", Err_Priority(flags), App_ProductName().c_str(), Text_Cp1252ToUtf8(line).c_str());
        if (logIt) {
            const QDateTime now = Clock_Now();
            const DateTime t{now.date().year(), now.date().month(), now.date().day(), now.time().hour(),
                             now.time().minute(), now.time().second()};
            Err_AppendLine("<" + App_ProductName() + ">\t" + line + " , " + Date_Long(t) + " kell "
                           + Fmt_DateTime(t, "hh:nn:ss"));
        }
        return Msg_DefaultButton(flags);
    }
    const ButtonSet set = ButtonsOf(flags);
    // Over the main window, where the operator looks, rather than in the middle of the screen.
    QMessageBox box(IconOf(flags), Text_ToQString(App_ProductName()), Text_ToQString(Str_Replace(text, "\r", "\n")),
                    set.buttons, over ? over : g_mainWindow.data());
    box.setDefaultButton(set.byDefault);
    EstonianButtons(box);
    return CodeOf(box.exec());
}

} // namespace

int Msg_BoxUnlogged(std::string_view text, int flags) { return Box(text, flags, false); }

QWidget* Msg_Open(std::string_view text, int flags, std::function<void(int code)> done)
{
    if (g_headless || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        done(Box(text, flags, true));
        return nullptr;
    }
    const ButtonSet set = ButtonsOf(flags);
    auto* box = new QMessageBox(IconOf(flags), Text_ToQString(App_ProductName()),
                                Text_ToQString(Str_Replace(text, "\r", "\n")), set.buttons, g_mainWindow);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(set.byDefault);
    EstonianButtons(*box);
    QObject::connect(box, &QMessageBox::finished, box, [done = std::move(done)](int button) { done(CodeOf(button)); });
    box->open();
    return box;
}

int Msg_DefaultButton(int flags) { return CodeOf(ButtonsOf(flags).byDefault); }

int Msg_Box(std::string_view text, int flags) { return Box(text, flags, true); }

int Msg_BoxOver(QWidget* over, std::string_view text, int flags) { return Box(text, flags, true, over); }

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
                     Text_Cp1252ToUtf8(Card_MaskText(OneLine(prompt))).c_str());
        return {};
    }
    QInputDialog box(g_mainWindow);
    box.setWindowTitle(Text_ToQString(App_ProductName()));
    box.setLabelText(Text_ToQString(Str_Replace(prompt, "\r", "\n")));
    box.setTextValue(Text_ToQString(def));
    box.setOkButtonText(QStringLiteral("OK"));
    box.setCancelButtonText(QStringLiteral("Loobu"));
    return box.exec() == QDialog::Accepted ? Text_FromQString(box.textValue()) : std::string();
}

void Ui_SetHeadless(bool headless) { g_headless = headless; }
void Ui_SetMainWindow(QWidget* window) { g_mainWindow = window; }
void Ui_SetHeadlessInput(std::function<std::string(std::string_view prompt)> answer) { HeadlessInput() = std::move(answer); }
bool Ui_Headless() { return g_headless; }

} // namespace tollan
