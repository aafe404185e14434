#pragma once
// Every text that crosses a link, a packet, a frame or a record is a byte string in Windows-1252.
// These are the only conversions to and from Unicode: at the widgets, the human-readable files
// (UTF-8) and the database text columns (UTF-8).

#include <string>
#include <string_view>

class QString;

namespace tollan {

// Windows-1252 bytes to UTF-8 and back. Bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) pass through as the control characters U+0081 … so that nothing is lost.
std::string Text_Cp1252ToUtf8(std::string_view bytes);
// Characters that Windows-1252 cannot hold become '?'; malformed UTF-8 bytes become '?'.
std::string Text_Utf8ToCp1252(std::string_view utf8);

QString Text_ToQString(std::string_view bytes);
std::string Text_FromQString(const QString& text);

} // namespace tollan
