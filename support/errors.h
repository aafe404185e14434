#pragma once
// One entry point for every failure the terminal notices: a ring of the last 257 reports, one line per
// report appended to tollan.err in the home folder, and the report shown in the main window's error
// indicator ("ERRORSHOW") or, when there is none, in a message box. Nothing here stops the program.

#include <QDateTime>

#include <cstdint>
#include <string>
#include <string_view>

namespace tollan {

struct ErrorRecord {
    std::int32_t number = 0;
    std::string description;  // the failure's own text, may be empty
    std::string message;      // what the program was doing, in the operator's language
    std::string details;      // a parameter list of the context; stored, not shown, not logged
    std::int16_t flags = 0;   // message-box style when shown (48: exclamation, OK)
    QDateTime time;
};

inline constexpr int kErrRing = 257;

// Records, logs and shows a report; headless, it goes to stderr too (Err_StderrLine), where the
// journal keeps it with its level.
void Err_Report(std::int32_t number, std::string_view description, std::string_view message,
                int flags = 48, std::string_view details = {});
// The syslog priority of a report by its box's icon: 3 error (a stop sign, or none), 4 warning
// (exclamation), 5 notice (question), 6 information.
int Err_Priority(int flags);
// The report's line on stderr: "<4>tollan: 87 - message (description)", in one line.
std::string Err_StderrLine(const ErrorRecord& record);
// Records and logs without showing (socket errors that need no attention).
void Err_Log(std::int32_t number, std::string_view description, std::string_view message);
void Err_Store(const ErrorRecord& record);
// Shows the record `back` slots behind the newest.
void Err_Show(int back);
const ErrorRecord& Err_Record(int slot);
int Err_Index();
// Empties the ring (tests).
void Err_Clear();

// The product name at the head of each log line and in every box's title.
const std::string& App_ProductName();
// The error log's file name in the home folder (named after the executable: "tollan.err").
QString Err_LogPath();
// The log line of a record, without its CR LF (the one place of its format).
std::string Err_LogLine(const ErrorRecord& record);
// Appends one line (Windows-1252, without its CR LF) to the error log, mode 0600; a line the log
// cannot take goes to stderr. Every writer of tollan.err goes through here.
void Err_AppendLine(const std::string& line);

} // namespace tollan
