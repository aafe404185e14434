#include "shell/print.h"

#include "support/codepage.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/clock.h"
#include "support/text.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <vector>

namespace tollan {

namespace {

QString& LastPdf()
{
    static QString path;
    return path;
}

std::vector<std::string> Lines(const std::string& text) { return Str_Split(text, "\r\n"); }

} // namespace

std::string Console_PairReceipts(const std::string& first, const std::string& second)
{
    const std::vector<std::string> a = Lines(first), b = Lines(second);
    const std::size_t n = std::max(a.size(), b.size());
    // 36 characters a column, or the longest line's: a line cut at the column's edge lost the end
    // of a time or an amount.
    std::size_t width = 36;
    for (const auto* lines : {&a, &b})
        for (const std::string& l : *lines)
            width = std::max(width, l.size());
    std::string page;
    for (std::size_t i = 0; i < n; ++i) {
        if (i) page += "\r\n";
        page += "       " + Str_Align(i < a.size() ? a[i] : "", int(width), 1) + "  |  " +
                Str_Align(i < b.size() ? b[i] : "", int(width), 1);
    }
    return page;
}

bool Print_Document(const std::string& text)
{
    QPrinter printer;
    const bool toPdf = QPrinterInfo::defaultPrinter().isNull();
    if (toPdf) {
        // Receipts name cards and amounts: the folder and each PDF are the terminal user's alone.
        const QString folder = Home_File(QStringLiteral("prints"));
        if (!Home_RestrictFolder(folder)) {
            Err_Report(75, Text_FromQString(folder), Text_Utf8ToCp1252("Printimise kausta ei saa luua"));
            return false;
        }
        QString path;
        const QString stamp = Clock_Now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        for (int n = 1; path.isEmpty() || QFileInfo::exists(path); ++n)
            path = folder + QStringLiteral("/receipt-%1-%2.pdf").arg(stamp).arg(n);
        // The printer writes into the file made here, keeping its mode.
        if (!Home_RestrictFile(path)) {
            Err_Report(75, Text_FromQString(path), Text_Utf8ToCp1252("Printimise faili ei saa luua"));
            return false;
        }
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        LastPdf() = path;
    } else {
        LastPdf().clear();
    }
    printer.setDocName(QStringLiteral("Tollan"));
    QPainter painter;
    if (!painter.begin(&printer)) {
        Err_Report(482, "", Text_Utf8ToCp1252("Printer ei ole kasutatav"));
        return false;
    }
    QFont font(QStringLiteral("Monospace"), 9);
    font.setStyleHint(QFont::TypeWriter);
    painter.setFont(font);
    const QFontMetrics metrics(font, &printer);
    const int lineHeight = metrics.lineSpacing();
    const int pageHeight = printer.pageLayout().paintRectPixels(printer.resolution()).height();
    int y = metrics.ascent();
    for (const std::string& line : Lines(text)) {
        if (y > pageHeight) {
            printer.newPage();
            y = metrics.ascent();
        }
        painter.drawText(0, y, Text_ToQString(line));
        y += lineHeight;
    }
    return painter.end();
}

QString Print_LastPdf() { return LastPdf(); }

} // namespace tollan
