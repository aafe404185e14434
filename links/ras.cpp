#include "links/ras.h"

#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/text.h"

#include <QCursor>
#include <QGuiApplication>

#include <memory>

namespace tollan {

std::unique_ptr<RasBackend> Ras_MakeBackend(const std::string& name);  // ras_backends.cpp

namespace {

struct Manager {
    RasHandle handle = 0;
    int count = 0;
    bool foreign = false;
    std::int32_t lastError = 0;
};
Manager& M()
{
    static Manager m;
    return m;
}

RasBackend* g_backend = nullptr;

// Shared with whoever is in the middle of a call, so that a backend the setting replaces meanwhile
// lives until that call has ended.
std::shared_ptr<RasBackend> Backend()
{
    if (g_backend)
        return std::shared_ptr<RasBackend>(std::shared_ptr<RasBackend>(), g_backend);   // the test's own
    // The configured one, made afresh when the setting changes.
    static std::string name;
    static std::shared_ptr<RasBackend> made;
    const std::string wanted = Cfg_Get("RAS\\Backend", "pppd");
    if (!made || wanted != name) {
        name = wanted;
        made = Ras_MakeBackend(wanted);
    }
    return made;
}

// The hourglass while the service looks or dials; the window answers meanwhile.
struct BusyPointer {
    bool shown = false;
    BusyPointer()
    {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            shown = true;
        }
    }
    ~BusyPointer()
    {
        if (shown)
            QGuiApplication::restoreOverrideCursor();
    }
};

std::string cut(std::string s, std::size_t n)
{
    if (s.size() > n)
        s.resize(n);
    return s;
}

} // namespace

void Ras_SetBackend(RasBackend* backend) { g_backend = backend; }

RasDialParams Ras_DialParams()
{
    RasDialParams p;
    // "tollan": the pppd peer /etc/ppp/peers/tollan, or the NetworkManager connection of that name.
    p.entry = cut(Cfg_Get("RAS\\Connectoid", "tollan"), 256);
    p.number = cut(Cfg_Get("RAS\\Number", ""), 128);
    p.user = cut(Cfg_Get("RAS\\UserName", ""), 256);
    p.password = cut(Cfg_Get("RAS\\Password", ""), 256);
    p.domain = cut(Cfg_Get("RAS\\Domain", ""), 15);
    return p;
}

Task<void> Ras_Init()
{
    M().foreign = false;
    const RasHandle h = co_await Ras_FindConnection();
    // A connect that came meanwhile has found or dialled for itself.
    if (M().count == 0)
        M().handle = h;
}

Task<RasHandle> Ras_FindConnection()
{
    BusyPointer busy;
    const RasFound found = co_await Backend()->findActive();
    M().lastError = found.code;
    co_return found.handle;
}

std::string Ras_ErrorText(std::int32_t code)
{
    auto text = Backend()->errorText(code);
    if (!text)
        return "(couldn't retrieve error name)";
    return text->substr(0, std::min(text->find('\0'), std::size_t(256)));
}

Task<RasHandle> Ras_Dial()
{
    const std::shared_ptr<RasBackend> backend = Backend();
    RasDialed dialed;
    {
        BusyPointer busy;
        dialed = co_await backend->dial(Ras_DialParams());
    }
    M().lastError = dialed.code;
    if (dialed.code == 0) {
        M().handle = dialed.handle;
        co_return dialed.handle;
    }
    if (dialed.handle != 0)
        co_await backend->hangUp(dialed.handle);
    // A dial that the program's stop cut short is no failure to show.
    if (!App_Stopping())
        Err_Report(dialed.code, Ras_ErrorText(dialed.code), Text_Utf8ToCp1252("viga RASDial väljakutsel"), 16, {});
    co_return 0;
}

Task<void> Ras_Acquire()
{
    Manager& m = M();
    if (m.count == 0) {
        m.handle = co_await Ras_FindConnection();
        if (m.handle != 0)
            m.foreign = true;
        else
            m.handle = co_await Ras_Dial();
    }
    if (m.handle != 0)
        ++m.count;
}

Task<void> Ras_Release()
{
    Manager& m = M();
    if (m.count == 0)
        co_return;
    if (--m.count > 0)
        co_return;
    RasHandle h = m.handle;
    if (h == 0)
        h = co_await Ras_FindConnection();
    if (h == 0) {
        m.foreign = false;
        co_return;
    }
    if (!m.foreign)
        m.lastError = co_await Backend()->hangUp(h);
    m.foreign = false;
}

int Ras_Count() { return M().count; }
std::int32_t Ras_LastError() { return M().lastError; }
bool Ras_Foreign() { return M().foreign; }
void Ras_Reset() { M() = Manager{}; }

} // namespace tollan
