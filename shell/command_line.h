#pragma once
// The command line of `tollan`: options, and the `config` subcommand that reads and writes the same
// store as the running program.

#include <QString>
#include <QStringList>

#include <optional>

namespace tollan {

struct CommandLine {
    QString home;           // --home DIR, empty when not given
    QString cardKey;        // --card-key FILE, empty when not given
    bool headless = false;  // --headless
    bool service = false;   // --service: run as the package's service
    bool help = false, version = false;
    QStringList command;    // "config", "keys" or "check" and its arguments, empty to run the terminal
    QString error;          // a usage error, empty when the line is sound
};

CommandLine Cli_Parse(const QStringList& arguments);
QString Cli_Usage();
// Runs `config list|get|set|unset|check|describe` on the home folder in force; returns the exit status.
int Cli_Config(const QStringList& command);
// `config check`: every problem of the settings on stdout, a line each; 0 when there is none.
int Cli_ConfigCheck();
// `check`: the settings check, then each card-centre address (or the modem's port) tried; 0 only
// when everything answered.
int Cli_Check(const QStringList& command);
// Runs `keys rotate` on the home folder in force with the key source of `cardKey`; returns the
// exit status.
int Cli_Keys(const QStringList& command, const QString& cardKey);

} // namespace tollan
