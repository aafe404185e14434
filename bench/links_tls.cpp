// What TLS session resumption saves a card-centre dialogue: the terminal's own link (Tcp_Connect
// over TLS, one 224-byte line each way, the close) against a card centre that resumes sessions,
// openssl's s_server, with a full handshake each time (the kept session forgotten) and with the
// session kept from the dialogue before. The card-centre peer cannot resume (Qt gives each
// connection it accepts a TLS context of its own), so this is measured here.
#include "bench/await.h"
#include "bench/tls_certificates.h"
#include "links/tcp.h"
#include "links/tls.h"

#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace tollan;

struct ResumingCentre {
    QTemporaryDir dir;
    QProcess server;
    std::string address;
    QString sessionKey;

    bool Start()
    {
        if (!dir.isValid() || !bench::MakeCentreCertificate(dir.path()))
            return false;
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        server.setStandardOutputFile(QProcess::nullDevice());
        server.setStandardErrorFile(QProcess::nullDevice());
        server.start("openssl", {"s_server", "-accept", QString("127.0.0.1:%1").arg(port), "-cert",
                                 dir.filePath("centre.pem"), "-key", dir.filePath("centre.key"), "-rev", "-quiet"});
        if (!server.waitForStarted(5000))
            return false;
        Home_Set(dir.path());
        Cfg_SetRoot(kCfgRoot);
        Ui_SetHeadless(true);
        Cfg_Put("UseTLS", "1");
        Cfg_Put("TLS\\CAFile", dir.filePath("ca.pem").toStdString());
        address = "127.0.0.1:" + std::to_string(port);
        TlsParams p;
        std::string why;
        if (!Tls_Params("127.0.0.1", port, p, why))
            return false;
        sessionKey = p.sessionKey;
        for (int i = 0; i < 50; ++i) {   // listening within a moment
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(100))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    ~ResumingCentre()
    {
        server.kill();
        server.waitForFinished(5000);
    }
};

ResumingCentre* g_centre = nullptr;

void BM_TlsDialogueLeg(benchmark::State& state)
{
    const bool resume = state.range(0) != 0;
    const std::string line = std::string(224, 'r') + "\n";
    Socket s;
    int failed = 0;
    for (auto _ : state) {
        if (!resume)
            Tls_ForgetSession(g_centre->sessionKey);
        const bool ok = bench::Await(Tcp_Connect(s, g_centre->address, 10)) && Tcp_Send(s, line) &&
                        bench::Await(Tcp_WaitFor(s, "\n", 10));
        failed += !ok;
        Tcp_Receive(s, 0);
        Tcp_Close(s);
    }
    state.counters["failed"] = failed;
    state.SetLabel(resume ? "session kept from the dialogue before" : "full handshake");
}
BENCHMARK(BM_TlsDialogueLeg)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto centre = std::make_unique<ResumingCentre>();
    if (!centre->Start()) {
        std::fprintf(stderr, "openssl s_server does not start (is the openssl command installed?)\n");
        return 1;
    }
    g_centre = centre.get();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
