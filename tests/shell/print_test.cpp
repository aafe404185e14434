// Printing without a printer: the page goes to a PDF in prints/ of the home folder.
#include "shell/print.h"

#include "support/home.h"
#include "tests/common/file_modes.h"

#include "tests/shell/suite.h"

TEST(Printing, WithoutAPrinterEachDocumentIsOnePdfInPrints)
{
    QTemporaryDir home;
    Home_Set(home.path());
    ASSERT_TRUE(Print_Document("       A1  |  B1\r\n       A2  |  B2\r\n\xD5nne"));
    ASSERT_TRUE(Print_Document("second"));
    const QStringList pdfs = QDir(home.filePath("prints")).entryList({"*.pdf"}, QDir::Files);
    ASSERT_EQ(pdfs.size(), 2);
    QFile f(Print_LastPdf());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.peek(5) == "%PDF-");
    // The document's name, as a print queue shows it: the PDF's title, in UTF-16.
    EXPECT_TRUE(f.readAll().contains(QByteArray("/Title (\xFE\xFF\0T\0o\0l\0l\0a\0n)", 22)));
}

TEST(Printing, TheReceiptsFolderAndEveryPdfInItAreTheTerminalUsersAloneWhateverTheUmask)
{
    QTemporaryDir home;
    Home_Set(home.path());
    test::PermissiveUmask umask022;
    ASSERT_TRUE(Print_Document("KVIITUNG NR. 14"));
    EXPECT_EQ(test::ModeOf(home.filePath("prints")), 0700);
    EXPECT_EQ(test::ModeOf(Print_LastPdf()), 0600);
    // A folder an earlier version made readable to all is narrowed at the next print.
    ASSERT_TRUE(QFile::setPermissions(home.filePath("prints"), QFile::Permissions(0x7755)));
    ASSERT_TRUE(Print_Document("KVIITUNG NR. 15"));
    EXPECT_EQ(test::ModeOf(home.filePath("prints")), 0700);
    EXPECT_EQ(test::ModeOf(Print_LastPdf()), 0600);
}
