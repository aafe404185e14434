// Sending a transaction file of 100 000 unsent rows to a card centre (`tollan-cardcentre`, which
// ACKs every line at once) with the terminal's own dialogue, against the floor: the same framed
// lines sent by a bare blocking loop to the same card centre, each waiting for its ACK, and the
// same ENQ, verdict, ACK, ENQ and EOT. Goal: the dialogue under 1.5 x the floor.
// The file is built once per run inside a database transaction that is rolled back, so every run
// sends the same rows; building it is measured too, and by bench_dialogues_transfile.
//
// Prints one JSON object. Options: --quick (one run instead of three), --rows N.
#include "bench/process_bench.h"
#include "bench/unsent_rows.h"
#include "links/socket.h"
#include "bench/await.h"
#include "dialogues/dialogue.h"
#include "dialogues/transfile_build.h"
#include "protocol/frame.h"
#include "protocol/transfile.h"
#include "store/db.h"
#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"

#include <cstring>

using namespace tollan;
using namespace tollan::bench;

namespace {


// The least any sender has to do: one frame out, wait for the ACK, next frame.
bool BareSend(quint16 port, const std::vector<std::string>& lines)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(5000))
        return false;
    auto waitFor = [&](char c) {
        for (;;) {
            const QByteArray got = s.read(4096);
            if (got.contains(c))
                return true;
            if (!got.isEmpty())
                continue;
            if (!s.waitForReadyRead(30000))
                return false;
        }
    };
    for (const std::string& line : lines) {
        const std::string frame = KK_FrameSimple(line);
        s.write(frame.data(), qint64(frame.size()));
        if (!waitFor('\x06'))
            return false;
    }
    s.write("\x05", 1);
    if (!waitFor('\r'))
        return false;
    s.write("\x06", 1);
    if (!waitFor('\x05'))
        return false;
    s.write("\x04", 1);
    s.waitForBytesWritten(5000);
    s.disconnectFromHost();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int rows = 100000, runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick"))
            runs = 1;
        else if (!std::strcmp(argv[i], "--rows") && i + 1 < argc)
            rows = std::max(1, std::atoi(argv[++i]));
    }
    QTemporaryDir home;
    Home_Set(home.path());
    Ui_SetHeadless(true);
    Cfg_SetRoot(kCfgRoot);
    if (!Db_Open() || !StoreUnsentRows(rows)) {
        std::fprintf(stderr, "cannot prepare tollan.mdb in %s\n", qPrintable(home.path()));
        return 1;
    }
    CardCentre centre;
    if (!centre.Start({}, QString())) {
        std::fprintf(stderr, "the card centre does not start\n");
        return 1;
    }
    Cfg_Put("Tollan_Trans_Address", centre.Address().toStdString());

    std::vector<double> build, send, floor;
    std::size_t lines = 0;
    bool accepted = true, floorOk = true;
    for (int run = 0; run < runs; ++run) {
        Db_BeginTrans();
        TransSet set;
        set.open("iSentToojaamPAN");
        std::vector<std::string> file;
        std::string report;
        QElapsedTimer t;
        t.start();
        if (!KK_BuildTransFile(set, file, report)) {
            std::fprintf(stderr, "no file built\n");
            return 1;
        }
        build.push_back(double(t.nsecsElapsed()) / 1e6);
        lines = file.size();

        t.start();
        accepted = bench::Await(KK_SendTransFile(file, report)) && accepted;
        send.push_back(double(t.nsecsElapsed()) / 1e6);
        Db_Rollback();

        t.start();
        floorOk = BareSend(centre.Port(), file) && floorOk;
        floor.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    // What the window's status line does every ten seconds: count the unsent rows.
    QElapsedTimer t;
    t.start();
    TransSet unsent;
    std::int32_t count = 0;
    if (unsent.open("iSentPAN") && unsent.seek("=", {DbKey(false)}))
        count = Db_CountUnsent(unsent);
    const double countMs = double(t.nsecsElapsed()) / 1e6;

    const Stats b = Summarise(build), s = Summarise(send), f = Summarise(floor);
    Json j;
    j.Text("benchmark", "transaction file sent to tollan-cardcentre on loopback, against bare framed line round trips");
    j.Number("rows", rows);
    j.Number("lines", double(lines));
    j.Number("runs", runs);
    j.Bool("accepted", accepted);
    j.Bool("floor_accepted", floorOk);
    j.Number("send_median_ms", s.median);
    j.Number("send_min_ms", s.min);
    j.Number("send_us_per_line", 1000 * s.median / double(lines));
    j.Number("floor_median_ms", f.median);
    j.Number("floor_min_ms", f.min);
    j.Number("floor_us_per_line", 1000 * f.median / double(lines));
    j.Number("send_to_floor_ratio", s.median / f.median);
    j.Number("goal_ratio_below", 1.5);
    j.Bool("goal_met", accepted && floorOk && s.median < 1.5 * f.median);
    j.Number("build_median_ms", b.median);
    j.Number("count_unsent_rows", count);
    j.Number("count_unsent_ms", countMs);
    std::printf("%s\n", j.Str().c_str());
    return 0;
}
