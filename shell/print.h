#pragma once
// Printing for the console: receipts side by side, and one document to the default printer, or to
// a PDF in prints/ of the home folder when there is no printer.

#include <QString>

#include <string>

namespace tollan {

// The pair as one page: each line of both cut or padded to 36 characters, joined by "  |  " and
// preceded by seven spaces; lines with CR LF between them. Every line of the longer receipt is
// kept; the shorter one's side stays blank.
std::string Console_PairReceipts(const std::string& first, const std::string& second);

// Prints Windows-1252 text in a fixed-pitch font as one document; false when it cannot.
bool Print_Document(const std::string& text);
// The PDF file that a print without a printer goes to; empty after the last Print_Document that
// reached a printer (tests read the file).
QString Print_LastPdf();

} // namespace tollan
