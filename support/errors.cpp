#include "support/errors.h"

#include "support/cardmask.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/home.h"
#include "support/msgbox.h"
#include "support/text.h"
#include "support/visuals.h"

#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QVariant>

#include <array>
#include <cstdio>

namespace tollan {

// The message box of a report: it is in the log already, so a headless box only goes to stderr.
int Msg_BoxUnlogged(std::string_view text, int flags);

namespace {

struct ErrorState {
    std::array<ErrorRecord, kErrRing> ring;
    int index = 0;
    std::int16_t pendingFlags = 0;
    std::string pendingDetails;
};

ErrorState& State()
{
    static ErrorState state;
    return state;
}

DateTime ToDateTime(const QDateTime& t)
{
    return {t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second()};
}

} // namespace

void Err_AppendLine(const std::string& line)
{
    // A line the log cannot take (a full disk, a read-only folder) goes to stderr, so that the
    // report of the very failure that stops the log is not lost; the record stays in the ring.
    const std::string utf8 = Text_Cp1252ToUtf8(line) + "\r\n";
    // Its lines name registers, addresses and the causes of refusals: its user's alone. A file
    // that cannot be narrowed is still written, as it was: a lost report helps nobody.
    Home_RestrictFile(Err_LogPath());
    QFile file(Err_LogPath());
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Append) &&
                         file.write(utf8.data(), static_cast<qint64>(utf8.size())) == static_cast<qint64>(utf8.size()) &&
                         file.flush();
    if (!written) std::fprintf(stderr, "%s\n", Text_Cp1252ToUtf8(line).c_str());
}

const std::string& App_ProductName()
{
    static const std::string name = "Tollan terminal";
    return name;
}

QString Err_LogPath() { return Home_File(QStringLiteral("tollan.err")); }

std::string Err_LogLine(const ErrorRecord& r)
{
    const DateTime t = ToDateTime(r.time);
    return "<" + App_ProductName() + ">\t" + r.message + " , " + Date_Long(t) + " kell " + Fmt_DateTime(t, "hh:nn:ss")
        + "\t(" + std::to_string(r.number) + " - " + r.description + ")";
}

void Err_Store(const ErrorRecord& record)
{
    ErrorState& s = State();
    s.index = (s.index + 1) % kErrRing;
    s.ring[static_cast<std::size_t>(s.index)] = record;
}

void Err_Log(std::int32_t number, std::string_view description, std::string_view message)
{
    ErrorState& s = State();
    // Whatever a report carries, a card number in it is shown and logged masked.
    ErrorRecord r;
    r.number = number;
    r.description = Card_MaskText(description);
    r.message = Card_MaskText(message);
    r.details = Card_MaskText(s.pendingDetails);
    r.flags = s.pendingFlags;
    r.time = Clock_Now();
    Err_Store(r);
    s.pendingFlags = 0;
    s.pendingDetails.clear();
    Err_AppendLine(Err_LogLine(r));
}

void Err_Report(std::int32_t number, std::string_view description, std::string_view message, int flags,
                std::string_view details)
{
    ErrorState& s = State();
    s.pendingFlags = static_cast<std::int16_t>(flags);
    s.pendingDetails = std::string(details);
    Err_Log(number, description, message);
    // Headless, nobody looks at a window: the journal does, through stderr, and keeps the level.
    if (Ui_Headless()) {
        const ErrorRecord& r = s.ring[static_cast<std::size_t>(s.index)];
        std::fprintf(stderr, "%s\n", Text_Cp1252ToUtf8(Err_StderrLine(r)).c_str());
    }
    Err_Show(0);
}

int Err_Priority(int flags)
{
    // The box's icon is how grave the program found it: a stop sign an error, an exclamation mark
    // a warning, a question a notice, an information sign information.
    switch (flags & 0x70) {
    case 32: return 5;
    case 48: return 4;
    case 64: return 6;
    default: return 3;
    }
}

std::string Err_StderrLine(const ErrorRecord& r)
{
    std::string line = "<" + std::to_string(Err_Priority(r.flags)) + ">tollan: " + std::to_string(r.number) + " - " + r.message;
    if (!r.description.empty()) line += " (" + r.description + ")";
    return Str_Replace(Str_Replace(line, "\r", " / "), "\n", " / ");
}

void Err_Show(int back)
{
    const ErrorState& s = State();
    int slot = (s.index - back) % kErrRing;
    if (slot < 0) slot += kErrRing;
    const ErrorRecord& r = s.ring[static_cast<std::size_t>(slot)];
    const std::string text = std::to_string(r.number) + " - " + r.message + "\r(" + r.description + ")!";
    const int element = Visual_Find("ERRORSHOW");
    if (element != -1) {
        QObject* button = Visual_Element(element);
        button->setProperty("Tag", slot);
        if (QMetaObject::invokeMethod(button, "click")) return;
    }
    // Headless, the report went to stderr as it was made.
    if (!Ui_Headless()) Msg_BoxUnlogged(text, r.flags);
}

const ErrorRecord& Err_Record(int slot)
{
    static const ErrorRecord none;
    if (slot < 0 || slot >= kErrRing) return none;
    return State().ring[static_cast<std::size_t>(slot)];
}

int Err_Index() { return State().index; }

void Err_Clear()
{
    ErrorState& s = State();
    s.ring.fill(ErrorRecord{});
    s.index = 0;
    s.pendingFlags = 0;
    s.pendingDetails.clear();
}

} // namespace tollan
