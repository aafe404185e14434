#include "dialogues/dialogue.h"
#include "dialogues/transfile_build.h"
#include "protocol/transfile.h"
#include "tests/support/suite.h"
#include "support/visuals.h"
#include "tests/common/file_modes.h"

#include <QPushButton>
#include <QMessageBox>
#include <QApplication>

#include <functional>
#include <memory>
#include <tuple>

namespace {

class Errors : public ::testing::Test {
protected:
    void SetUp() override
    {
        Home_Set(home.path());
        Ui_SetHeadless(true);
        Err_Clear();
        Visual_Clear();
    }
    void TearDown() override { Ui_SetHeadless(true); }
    std::string Log() const
    {
        QFile f(home.filePath("tollan.err"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    QTemporaryDir home;
};

} // namespace

TEST_F(Errors, TheRingOf257StartsAtSlotOneAndWraps)
{
    Err_Log(1, "", "first");
    EXPECT_EQ(Err_Index(), 1);
    EXPECT_EQ(Err_Record(1).message, "first");
    for (int i = 2; i <= 257; ++i) Err_Log(i, "", "n");
    EXPECT_EQ(Err_Index(), 0);
    EXPECT_EQ(Err_Record(256).number, 256);
    EXPECT_EQ(Err_Record(0).number, 257);
    Err_Log(258, "", "n");
    EXPECT_EQ(Err_Index(), 1);
    EXPECT_EQ(Err_Record(1).number, 258);
    // A report's flags and details go with it only, not with the next line logged.
    Err_Report(5, "", "viga registrist lugemisel", 48, "Key=X;");
    Err_Log(10054, "Connection reset", "WSTJ(3)");
    EXPECT_EQ(std::tuple(Err_Record(2).flags, Err_Record(2).details, Err_Record(3).flags, Err_Record(3).details),
              std::tuple(48, std::string("Key=X;"), 0, std::string()));
}

TEST_F(Errors, TheLogAndTheDebugLogHaveTheirFixedLinesInUtf8AndHeadlessBoxesAnswerTheirDefault)
{
    TestClock clock(QDateTime(QDate(1999, 12, 5), QTime(14, 3, 59)));
    ClockScope scope(clock);
    Err_Report(5, "", "viga registrist lugemisel", 48, "");
    Err_Log(7, "M\xE4lu", "Lugemine");
    const std::string log = Log();
    EXPECT_EQ(log.substr(0, log.find("\r\n")),
              "<Tollan terminal>\tviga registrist lugemisel , 05. detsember 1999 kell 14:03:59\t(5 - )");
    EXPECT_NE(log.find("\t(7 - M\xC3\xA4lu)\r\n"), std::string::npos);
    // The headless box of a report goes to stderr only: one line in the log per report.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    // Boxes answer their default when headless, each with its line in the log.
    EXPECT_EQ(std::tuple(Msg_Box("x", 48), Msg_Box("x", 4 + 32), Msg_Box("x", 5)), std::tuple(1, 6, 4));
    EXPECT_EQ(Inp_Box("Autoriseerimiskood", "123"), "");
    EXPECT_NE(Log().find("<Tollan terminal>\tx , "), std::string::npos);

    // debug.log, written for the authorisation traffic: each line dated day.month.two-digit year and
    // the time to the second, every part two digits, a tab, then the text as UTF-8; the owner's only.
    clock.setNow(QDateTime(QDate(1999, 2, 5), QTime(4, 3, 9)));
    ASSERT_TRUE(KK_DebugLog("Send query: B"));
    clock.setNow(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58)));
    ASSERT_TRUE(KK_DebugLog("Received: L\xF5pp"));
    QFile f(home.filePath("debug.log"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), "05.02.99 04:03:09\tSend query: B\n31.12.26 23:59:58\tReceived: L\xC3\xB5pp\n");
    struct stat st {};
    ASSERT_EQ(stat(home.filePath("debug.log").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Every log the terminal keeps names cards, registers or the causes of refusals: its user's alone
// from the first byte, however permissive the umask of whoever started it.
TEST_F(Errors, EveryLogIsMadeReadableByItsUserAloneWhateverTheUmask)
{
    const struct {
        const char* file;
        std::function<void()> write;
    } writers[] = {
        {"tollan.err", [] { Err_Report(5, "", "viga", 48, ""); }},
        {"tollan.err", [] { Msg_Box("headless: the box goes to the log", 48); }},
        {"debug.log", [] { ASSERT_TRUE(KK_DebugLog("Send query: B")); }},
        {"trans.log", [] { ASSERT_TRUE(KK_TransLogAppend("Server said: Fail vastu voetud")); }},
    };
    test::PermissiveUmask umask022;
    for (const auto& w : writers) {
        SCOPED_TRACE(w.file);
        QFile::remove(home.filePath(w.file));
        w.write();
        EXPECT_EQ(test::ModeOf(home.filePath(w.file)), 0600);
        // One made readable by an earlier version, or by hand, is narrowed at the next line.
        ASSERT_TRUE(QFile::setPermissions(home.filePath(w.file), QFile::Permissions(0x6644)));
        w.write();
        EXPECT_EQ(test::ModeOf(home.filePath(w.file)), 0600);
    }
}

TEST_F(Errors, ALogThatRootMakesInAnotherUsersHomeFolderIsThatUsers)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: only root makes files in another user's folder";
    // `sudo tollan config set` in the service's folder: the service must still write the log.
    ASSERT_EQ(::chown(QFile::encodeName(home.path()).constData(), 65534, 65534), 0);
    Err_Report(5, "", "viga", 48, "");
    EXPECT_EQ(test::OwnerOf(home.filePath("tollan.err")), uid_t(65534));
    EXPECT_EQ(test::ModeOf(home.filePath("tollan.err")), 0600);
}

TEST_F(Errors, ALineTheLogCannotTakeGoesToStderr)
{
    // A folder where the log should be: no one, not even root, can append to it.
    ASSERT_TRUE(QDir(home.path()).mkdir("tollan.err"));
    testing::internal::CaptureStderr();
    Err_Log(28, "No space left on device", "viga logisse kirjutamisel");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("viga logisse kirjutamisel"), std::string::npos) << said;
    EXPECT_NE(said.find("(28 - No space left on device)"), std::string::npos) << said;
    EXPECT_EQ(Err_Record(Err_Index()).number, 28);
}

TEST_F(Errors, ShowPressesTheRegisteredIndicatorWithTheSlotInItsTagAndNeverAClosedOne)
{
    QPushButton indicator;
    int shown = -1;
    QObject::connect(&indicator, &QPushButton::clicked, [&] { shown = indicator.property("Tag").toInt(); });
    EXPECT_EQ(Visual_Find("ERRORSHOW"), -1);
    EXPECT_EQ(Visual_Register(&indicator, 4, "ERRORSHOW"), 1);
    EXPECT_EQ(Visual_Register(&indicator, 4, "errorshow"), -1);
    EXPECT_EQ(Visual_Find("  ErrorShow "), 1);
    EXPECT_EQ(Visual_Kind(1), 4);

    // Headless, the indicator is pressed and the report goes to stderr too, once, with its level:
    // the journal keeps it.
    testing::internal::CaptureStderr();
    Err_Report(1, "", "a", 48, "");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(said, "<4>tollan: 1 - a\n");
    Err_Show(2);  // two behind slot 1 is slot 256
    EXPECT_EQ(shown, 256);

    // A closed indicator is never reached: the report falls back to the (headless) box.
    Visual_Clear();
    Visual_Register(std::make_unique<QPushButton>().get(), 4, "ERRORSHOW");
    EXPECT_EQ(Visual_Find("ERRORSHOW"), -1);
    QPushButton other;
    EXPECT_EQ(Visual_Register(&other, 1, "other"), 1);   // its place is free again
    Err_Report(3, "", "no window", 48, "");
    EXPECT_EQ(shown, 256);
}

TEST_F(Errors, AReportShowsAnOkBoxWithTheExclamationTitledWithTheProduct)
{
    Ui_SetHeadless(false);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    Err_Report(5, "", "viga registrist lugemisel", 48, "");
    EXPECT_EQ(title, "Tollan terminal");
    EXPECT_EQ(text, "5 - viga registrist lugemisel\n()!");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, 1);
}

TEST_F(Errors, HeadlessEachReportGoesToStderrOnOneLineWithTheSyslogLevelOfItsIcon)
{
    const struct {
        int flags;
        const char* line;
    } cases[] = {
        {16, "<3>tollan: 7 - Viga (cause)\n"},            // a stop sign: an error
        {0, "<3>tollan: 7 - Viga (cause)\n"},             // no icon: an error as well
        {48, "<4>tollan: 7 - Viga (cause)\n"},            // an exclamation mark: a warning
        {4 + 32, "<5>tollan: 7 - Viga (cause)\n"},        // a question: a notice
        {64, "<6>tollan: 7 - Viga (cause)\n"},            // information
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        testing::internal::CaptureStderr();
        Err_Report(7, "cause", "Viga", c.flags, "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
    }
    testing::internal::CaptureStderr();
    Err_Report(8, "", "kaks\rrida", 48, "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "<4>tollan: 8 - kaks / rida\n");
}
