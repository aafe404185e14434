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
    EXPECT_TRUE(f.read(5) == "%PDF-");
}

TEST(Printing, APairOfReceiptsKeepsEveryLineOfTheLongerOne)
{
    const std::string a = "       " + std::string("X") + std::string(35, ' ') + "  |  ";
    const struct {
        std::string first, second;
        int lines;
    } cases[] = {{"1\r\n2\r\n3", "1", 3}, {"1", "1\r\n2\r\n3\r\n4", 4}, {"1\r\n2", "1\r\n2", 2}};
    for (const auto& c : cases) {
        const std::string page = Console_PairReceipts(c.first, c.second);
        int lines = 1;
        for (std::size_t at = 0; (at = page.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
        EXPECT_EQ(lines, c.lines) << c.first << " / " << c.second;
        EXPECT_EQ(page.size(), std::size_t(c.lines) * a.size() + std::size_t(c.lines) * 36 + std::size_t(c.lines - 1) * 2);
    }
}
