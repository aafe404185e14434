#pragma once
// The modem and its PAD as seen from the serial line: commands in, answers out, then a call that
// carries the bytes to a card centre over TCP. The line itself is the master side of a pty.

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;
class QTcpSocket;
class QTimer;

struct ModemOptions {
    QString dial = "connect";          // connect, busy, nocarrier, silent
    QString user, password;            // empty: any is accepted
    QMap<QString, QString> routes;     // X.25 address -> host:port
    int dialDelayMs = 0;               // before the answer to dialling
    int resetMs = 100;                 // a reset takes this long; what comes meanwhile is lost
    QByteArray reset = "ATZ";          // the commands the modem knows besides dialling (any case);
    QByteArray setup = "ATM0E0";       // anything else gets ERROR
    QStringList silentTo;              // "reset", "setup": no answer at all to that command
    QString record;                    // when set, each command line heard is appended to this file
    bool verbose = false;
};

class Modem : public QObject {
public:
    Modem(int masterFd, ModemOptions options, QObject* parent = nullptr);

private:
    enum class Mode { Command, Resetting, Dialling, Pad, Calling, Data };
    void readLine();
    void lineGone();
    void watchForReopen();
    void command(const QByteArray& line);
    void dialled();
    void pad(const QByteArray& line);
    void placeCall(const QString& address, const QString& target);
    void callCleared(const QString& why);
    void answer(const QByteArray& text);
    void hangUp(const QString& why);
    void log(const QString& what) const;

    int fd_;
    ModemOptions o_;
    Mode mode_ = Mode::Command;
    bool echo_ = true;  // a modem echoes its commands until told E0; a reset turns echo on again
    QByteArray pending_;
    QSocketNotifier* notifier_;
    QTimer* reopen_;
    QTcpSocket* call_ = nullptr;
};
