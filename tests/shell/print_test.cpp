// Printing without a printer: the page goes to a PDF in prints/ of the home folder.
#include "shell/print.h"

#include "support/home.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;

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
