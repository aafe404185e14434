#include "support/config.h"
#include "tests/support/suite.h"
#include "support/registry.h"
#include "tests/common/full_disk.h"
#include "tests/common/registry_lock.h"

#include <QFileInfo>

#include <csignal>
#include <vector>
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Texts that a line of the file cannot hold as they are: line ends, the characters that start a
// comment or a section or end a name, blanks the reader trims, quotes and escapes, and every byte.
std::vector<std::string> Awkward()
{
    std::string every;
    for (int b = 1; b < 256; ++b)
        every += char(b);
    return {"line\nfeed", "cr\r", "a=b", "=", ";comment", "#hash", "[section]", "[x", "y]", " blank ", "\ttab",
            "\"quoted\"", "\"", "back\\slash\\", "\\x41\\n", "\x01\x7F\x81\x8D\x9D\xA0\xFF", "P\xE4rnu", "", every};
}

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        Ui_SetHeadless(true);
        Cfg_SetRoot(kCfgRoot);
        Err_Clear();
    }
    std::string File() const
    {
        QFile f(home.filePath("registry.ini"));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return f.readAll().toStdString();
    }
    void Write(const std::string& text) const
    {
        QFile f(home.filePath("registry.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), static_cast<qint64>(text.size()));
    }
    QTemporaryDir home;
};

} // namespace

TEST_F(Store, AnAbsentSettingIsWrittenBackWithItsDefaultUnlessNotToBeSavedAndOnlyTheMachinesHiveHoldsSettings)
{
    EXPECT_EQ(Cfg_Get("X25\\Settings", "9600,n,8,1"), "9600,n,8,1");
    EXPECT_NE(File().find("[SOFTWARE\\Valdrin\\Tollan\\X25]\nSettings=9600,n,8,1\n"), std::string::npos) << File();
    // The second read finds it in the store: a different default does not win any more.
    EXPECT_EQ(Cfg_Get("x25\\SETTINGS", "other"), "9600,n,8,1");
    EXPECT_EQ(Err_Index(), 0);  // an absent setting is no error
    struct stat st {};
    ASSERT_EQ(stat(home.filePath("registry.ini").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A read that finds an empty value, or may not save defaults, writes nothing.
    Cfg_Put("FirmaNimi", "");
    const std::string before = File();
    EXPECT_EQ(Cfg_Get("FirmaNimi", "default"), "");
    Cfg_Init(kCfgRoot, 3, "HKEY=-2147483646;SaveDefaults=0;");
    EXPECT_EQ(Cfg_Get("Port", "1280"), "1280");
    EXPECT_EQ(File(), before);

    // Only the machine's hive holds settings.
    ASSERT_TRUE(Cfg_Put("Port", "4000"));
    Cfg_Init(kCfgRoot, 3, "HKEY=-2147483647;");   // the user's hive: nothing is kept there
    EXPECT_EQ(Cfg_Get("Port", "1280"), "1280");
    EXPECT_EQ(Cfg_LastError(), kRegInvalidHandle);
}

TEST_F(Store, NamesKeepTheirFirstCaseAndHandEditsAreReadBack)
{
    Cfg_Put("TimeOut\\Connect", "60");
    Cfg_Put("Timeout\\CONNECT", "45");
    EXPECT_EQ(Cfg_Get("timeout\\connect", ""), "45");
    EXPECT_NE(File().find("[SOFTWARE\\Valdrin\\Tollan\\TimeOut]\nConnect=45\n"), std::string::npos) << File();
    // Texts with Estonian letters and line breaks survive the file (UTF-8, quoted when needed).
    Cfg_Put("FirmaT\xE4nav", "P\xE4rnu mnt 5\r\nII korrus");
    EXPECT_EQ(Cfg_Get("firmat\xC4nav", ""), "P\xE4rnu mnt 5\r\nII korrus");
    EXPECT_NE(File().find("FirmaT\xC3\xA4nav="), std::string::npos);

    Write("[SOFTWARE\\Valdrin\\Tollan]\n; a comment\nPort = 4000\n\n[SOFTWARE\\Valdrin\\Tollan\\X25]\nNumber=5551234\n");
    EXPECT_EQ(Cfg_Get("Port", "1280"), "4000");
    EXPECT_EQ(Cfg_Get("X25\\Number", ""), "5551234");
}

TEST_F(Store, AValueOf1024CharactersCannotBeReadAndIsReported)
{
    Cfg_Put("Long", std::string(1023, 'x'));
    EXPECT_EQ(Cfg_Get("Long", "d").size(), 1023u);
    Cfg_Put("Long", std::string(1024, 'x'));
    EXPECT_EQ(Cfg_Get("Long", "d"), "d");
    EXPECT_EQ(Cfg_LastError(), 234);
    const ErrorRecord& r = Err_Record(Err_Index());
    EXPECT_EQ(r.number, 234);
    EXPECT_EQ(r.message, "viga registrist lugemisel");
    EXPECT_EQ(r.flags, 48);
    EXPECT_EQ(r.details, "");
}

TEST_F(Store, AWriteThatFailsIsReportedWithItsDetails)
{
    // A disk that takes no more: the new file cannot be written, even by root.
    test::FullDisk full;
    Cfg_Put("X25\\Number", "5551234");
    const ErrorRecord& r = Err_Record(Err_Index());
    EXPECT_EQ(Err_Index(), 1);
    EXPECT_NE(r.number, 0);
    EXPECT_EQ(r.message, "Viga konf.-faili kirjutamisel");
    EXPECT_EQ(r.flags, 48);
    EXPECT_EQ(r.details, "Type=3;File=SOFTWARE\\Valdrin\\Tollan;Key=X25\\Number;Param=\"-2147483646\";");
    EXPECT_EQ(Cfg_Get("X25\\Number", "none"), "none");
    // The new file written beside it is gone again: only the writers' lock file is left.
    EXPECT_EQ(QDir(home.path()).entryList({"registry.ini*"}, QDir::Files | QDir::Hidden), QStringList{"registry.ini.lock"});
    full.Free();
}

TEST_F(Store, AnotherProgramsSaveOfTheSameSizeAtOnceIsStillSeen)
{
    // `tollan config set` from a shell while the terminal runs: its file replaces ours within the
    // same clock tick (the time is set to ours, as a kernel with coarse file times would leave it)
    // and happens to have the same size.
    ASSERT_TRUE(Cfg_Put("Port", "1280"));
    ASSERT_EQ(Cfg_Get("Port", ""), "1280");
    struct stat ours {};
    ASSERT_EQ(stat(home.filePath("registry.ini").toLocal8Bit().constData(), &ours), 0);
    const QString theirs = home.filePath("theirs.tmp");
    {
        QFile f(theirs);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(File()).replace("1280", "4000"));
    }
    const struct timespec times[2] = {ours.st_atim, ours.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, theirs.toLocal8Bit().constData(), times, 0), 0);
    ASSERT_EQ(::rename(theirs.toLocal8Bit().constData(), home.filePath("registry.ini").toLocal8Bit().constData()), 0);
    EXPECT_EQ(Cfg_Get("Port", ""), "4000");
    // And our next save keeps their change, replacing the file whole and leaving nothing beside it.
    ASSERT_TRUE(Cfg_Put("NextNumber", "7"));
    EXPECT_EQ(File(), "[SOFTWARE\\Valdrin\\Tollan]\nPort=4000\nNextNumber=7\n");
    EXPECT_EQ(QDir(home.path()).entryList({"registry.ini*"}, QDir::Files | QDir::Hidden),
              (QStringList{"registry.ini", "registry.ini.lock"}));
}

TEST_F(Store, ARegistryThatLinksElsewhereStaysALink)
{
    QTemporaryDir elsewhere;
    const QString real = elsewhere.filePath("tollan.ini");
    {
        QFile f(real);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[SOFTWARE\\Valdrin\\Tollan]\nPort=4000\n");
    }
    ASSERT_TRUE(QFile::link(real, home.filePath("registry.ini")));
    ASSERT_TRUE(Cfg_Put("NextNumber", "7"));
    EXPECT_TRUE(QFileInfo(home.filePath("registry.ini")).isSymLink());
    QFile f(real);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), "[SOFTWARE\\Valdrin\\Tollan]\nPort=4000\nNextNumber=7\n");
    // The writers' lock lies beside the file they replace, wherever it is linked from.
    EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"tollan.ini", "tollan.ini.lock"}));
}

TEST_F(Store, AWriteCutShortByAFullDiskKeepsTheWholeFile)
{
    ASSERT_TRUE(Cfg_Put("Port", "1280"));
    ASSERT_TRUE(Cfg_Put("NextNumber", "41"));
    ASSERT_TRUE(Cfg_Put("FirmaNimi", std::string(600, 'x')));
    const std::string before = File();
    // The file size limit stands in for the disk: the new file cannot be written beyond 256 bytes.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool stored = Cfg_Put("NextNumber", "42");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(stored);
    EXPECT_NE(Cfg_LastError(), 0);
    EXPECT_EQ(Err_Record(Err_Index()).message, "Viga konf.-faili kirjutamisel");
    EXPECT_EQ(File(), before);
    EXPECT_EQ(Cfg_Get("NextNumber", ""), "41");
    EXPECT_EQ(Cfg_Get("Port", ""), "1280");
}

// Storing a default back is no reason to wait on another process's lock: the read answers at once
// with the default, writes nothing, reports nothing, and the other's save stands.
TEST_F(Store, ADefaultIsNotStoredBackWhileAnotherProcessHoldsTheLockNorOverItsValue)
{
    ASSERT_TRUE(Cfg_Put("Port", "1280"));
    const std::string theirs = "[SOFTWARE\\Valdrin\\Tollan]\nPort=1280\nFirmaTunnus=Theirs\n";
    QProcess other;
    test::HoldTheRegistryLock(other, home.path(), "sleep 0.5; " + test::SaveRegistryCommand(theirs));
    QElapsedTimer waited;
    waited.start();
    const int reports = Err_Index();
    EXPECT_EQ(Cfg_Get("FirmaTunnus", "Default"), "Default");
    EXPECT_LT(waited.elapsed(), 300);
    EXPECT_EQ(Err_Index(), reports);
    EXPECT_TRUE(other.waitForFinished(5000));
    EXPECT_EQ(Cfg_Get("FirmaTunnus", "Default"), "Theirs");
    EXPECT_EQ(File(), theirs);
}

TEST_F(Store, AWriteGivesUpWhenAnotherProcessHoldsTheLockTooLong)
{
    ASSERT_TRUE(Cfg_Put("NextNumber", "41"));
    const std::string before = File();
    QProcess other;
    test::HoldTheRegistryLock(other, home.path(), "read line");  // until we close its input
    QElapsedTimer waited;
    waited.start();
    EXPECT_FALSE(Cfg_Put("NextNumber", "42"));
    EXPECT_LT(waited.elapsed(), 10000);
    EXPECT_EQ(Cfg_LastError(), kRegLocked);
    EXPECT_EQ(Err_Record(Err_Index()).message, "Viga konf.-faili kirjutamisel");
    EXPECT_EQ(File(), before);
    // A counter moved on meanwhile still hands its caller the next value, from the one last read.
    std::string next;
    EXPECT_FALSE(Cfg_Change("NextNumber", "1", [&](const std::string& last) { return next = std::to_string(std::stoi(last) + 1); }));
    EXPECT_EQ(next, "42");
    other.closeWriteChannel();
    EXPECT_TRUE(other.waitForFinished(5000));
    EXPECT_TRUE(Cfg_Put("NextNumber", "42"));  // and the next write, with the lock free, is saved
}

TEST_F(Store, AnyKeyAndValueReadsBackAfterARestart)
{
    // A name cannot hold the key's separators (\ / .): those texts stand in the section's path only.
    auto key = [](const std::string& s) { return s + "\\" + (s.empty() || s.find_first_of("\\/.") != std::string::npos ? "Name" : s); };
    for (const std::string& s : Awkward())
        ASSERT_TRUE(Cfg_Put(key(s), s)) << s;
    QTemporaryDir restarted;  // the same file, read by a program that has not seen it yet
    ASSERT_TRUE(QFile::copy(home.filePath("registry.ini"), restarted.filePath("registry.ini")));
    Home_Set(restarted.path());
    Cfg_Reset();
    for (const std::string& s : Awkward())
        EXPECT_EQ(Cfg_Get(key(s), "absent"), s);
}

TEST(RegistryFile, IgnoresWhatItCannotRead)
{
    const auto sections = Reg_Parse("junk before\n[A]\nx=1\n[a]\nX=2\ny\n=3\n[B\\C]\nq=\"a\\\"b\\r\\n\"\n[");
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].values.size(), 2u);  // x (replaced by X=2) and the empty name
    EXPECT_EQ(sections[0].values[0].second, "2");
    EXPECT_EQ(sections[1].values[0].second, "a\"b\r\n");
}
