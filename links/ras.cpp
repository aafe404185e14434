#include "links/ras.h"

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

RasBackend& Backend()
{
    if (g_backend)
        return *g_backend;
    // The configured one, made afresh when the setting changes.
    static std::string name;
    static std::unique_ptr<RasBackend> made;
    const std::string wanted = Cfg_Get("RAS\\Backend", "pppd");
    if (!made || wanted != name) {
        name = wanted;
        made = Ras_MakeBackend(wanted);
    }
    return *made;
}

// The hourglass while the service holds the thread.
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

void Ras_Init()
{
    M().handle = Ras_FindConnection();
    M().foreign = false;
}

RasHandle Ras_FindConnection()
{
    BusyPointer busy;
    std::int32_t code = 0;
    const RasHandle h = Backend().findActive(code);
    M().lastError = code;
    return h;
}

std::string Ras_ErrorText(std::int32_t code)
{
    auto text = Backend().errorText(code);
    if (!text)
        return "(couldn't retrieve error name)";
    return text->substr(0, std::min(text->find('\0'), std::size_t(256)));
}

RasHandle Ras_Dial()
{
    const RasDialParams p = Ras_DialParams();
    RasHandle h = 0;
    std::int32_t code;
    {
        BusyPointer busy;
        code = Backend().dial(p, h);
    }
    M().lastError = code;
    if (code == 0) {
        M().handle = h;
        return h;
    }
    if (h != 0)
        Backend().hangUp(h);
    Err_Report(code, Ras_ErrorText(code), Text_Utf8ToCp1252("viga RASDial väljakutsel"), 16, {});
    return 0;
}

void Ras_Acquire()
{
    Manager& m = M();
    if (m.count == 0) {
        m.handle = Ras_FindConnection();
        if (m.handle != 0)
            m.foreign = true;
        else
            m.handle = Ras_Dial();
    }
    if (m.handle != 0)
        ++m.count;
}

void Ras_Release()
{
    Manager& m = M();
    if (m.count == 0)
        return;
    if (--m.count > 0)
        return;
    const RasHandle h = m.handle != 0 ? m.handle : Ras_FindConnection();
    if (h == 0) {
        m.foreign = false;
        return;
    }
    if (!m.foreign)
        m.lastError = Backend().hangUp(h);
    m.foreign = false;
}

int Ras_Count() { return M().count; }
std::int32_t Ras_LastError() { return M().lastError; }
bool Ras_Foreign() { return M().foreign; }
void Ras_Reset() { M() = Manager{}; }

} // namespace tollan
