// The locale's short date and time forms and its number separators, copied once at start-up so that
// the text functions themselves need nothing but the standard library.
#include "support/text.h"

#include <QLocale>

namespace tollan {

namespace {

// A Qt date or time format ("dd.MM.yyyy", "HH:mm:ss", "h:mm AP") as a picture (d m yy yyyy h n s).
std::string PictureOf(const QString& format)
{
    std::string out;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {  // quoted literal text
            for (++i; i < format.size() && format[i] != u'\''; ++i) out += format[i].toLatin1();
            continue;
        }
        switch (c.unicode()) {
        case u'M': out += 'm'; break;
        case u'm': out += 'n'; break;
        case u'H': out += 'h'; break;
        case u'd': case u'y': case u'h': case u's': out += c.toLatin1(); break;
        case u'A': case u'a': case u'P': case u'p': case u't': case u'z': break;
        default: out += c.toLatin1(); break;
        }
    }
    // Drop the blanks that an omitted AM/PM or time zone leaves behind.
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

} // namespace

void Text_UseSystemLocale()
{
    const QLocale locale = QLocale::system();
    TextForms& forms = Text_Forms();
    // The short date is all digits, as receipts and the settings read it back. A locale whose short
    // form names the month (the C locale's "d MMM yyyy") gets the ISO form instead, which reads back.
    const QString date = locale.dateFormat(QLocale::ShortFormat);
    forms.shortDate = date.contains(QStringLiteral("MMM")) ? std::string("yyyy-mm-dd") : PictureOf(date);
    std::string time = PictureOf(locale.timeFormat(QLocale::LongFormat));
    if (time.find('s') == std::string::npos) time += ":ss";
    forms.shortTime = time;
    forms.decimal = locale.decimalPoint().isEmpty() ? '.' : locale.decimalPoint().at(0).toLatin1();
    const QString group = locale.groupSeparator();
    forms.group = group.isEmpty() || group.at(0).unicode() > 0x7F ? ' ' : group.at(0).toLatin1();
}

} // namespace tollan
