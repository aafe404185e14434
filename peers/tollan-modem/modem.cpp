#include "peers/tollan-modem/modem.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {

QString shown(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes).replace("\r", "\\r").replace("\n", "\\n");
}

} // namespace

Modem::Modem(int masterFd, ModemOptions options, QObject* parent)
    : QObject(parent), fd_(masterFd), o_(std::move(options)),
      notifier_(new QSocketNotifier(masterFd, QSocketNotifier::Read, this)), reopen_(new QTimer(this))
{
    connect(notifier_, &QSocketNotifier::activated, this, &Modem::readLine);
    // While nobody holds the line open the master reads as hung up, and would wake us for ever;
    // instead we look again ten times a second.
    reopen_->setInterval(100);
    connect(reopen_, &QTimer::timeout, this, &Modem::watchForReopen);
}

void Modem::log(const QString& what) const
{
    if (o_.verbose)
        std::fprintf(stderr, "modem: %s\n", what.toLocal8Bit().constData());
}

void Modem::answer(const QByteArray& text)
{
    log("-> " + shown(text));
    const char* p = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, size_t(left));
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

void Modem::readLine()
{
    char buf[4096];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        lineGone();
        return;
    }
    if (mode_ == Mode::Data) {
        log(QString("terminal -> card centre %1 bytes").arg(n));
        call_->write(buf, n);
        return;
    }
    if (mode_ == Mode::Resetting || mode_ == Mode::Dialling || mode_ == Mode::Calling)
        return;  // a modem busy resetting or dialling hears nothing; the call is not up yet
    if (mode_ == Mode::Command && echo_)
        answer(QByteArray(buf, n));
    pending_.append(buf, n);
    qsizetype cr;
    while ((mode_ == Mode::Command || mode_ == Mode::Pad) && (cr = pending_.indexOf('\r')) >= 0) {
        const QByteArray line = pending_.left(cr).trimmed();
        pending_.remove(0, cr + 1);
        log("<- " + shown(line));
        if (mode_ == Mode::Command)
            command(line);
        else if (mode_ == Mode::Pad)
            pad(line);
    }
    // What the terminal sends while its call is placed goes out once the call is up; a line that
    // never ends is not kept for ever.
    if (pending_.size() > 4096)
        pending_.clear();
}

// The terminal closed the port, which drops the line: the modem hangs up and waits for the next caller.
void Modem::lineGone()
{
    hangUp("the line was closed");
    echo_ = true;
    notifier_->setEnabled(false);
    reopen_->start();
}

void Modem::watchForReopen()
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP)) {
        reopen_->stop();
        notifier_->setEnabled(true);
        log("the line is open");
    }
}

void Modem::hangUp(const QString& why)
{
    if (mode_ != Mode::Command)
        log("hang up: " + why);
    mode_ = Mode::Command;
    pending_.clear();
    if (call_) {
        call_->disconnect(this);
        call_->abort();
        call_->deleteLater();
        call_ = nullptr;
    }
}

void Modem::command(const QByteArray& line)
{
    if (line.isEmpty())
        return;  // an empty line is no command
    if (!o_.record.isEmpty()) {
        QFile f(o_.record);
        if (f.open(QIODevice::Append))
            f.write(line + "\n");
    }
    const QByteArray upper = line.toUpper();
    if (upper.startsWith("ATD")) {
        mode_ = Mode::Dialling;
        QTimer::singleShot(o_.dialDelayMs, this, &Modem::dialled);
        return;
    }
    if (upper == o_.reset.toUpper()) {
        if (o_.silentTo.contains("reset"))
            return;
        // The reset takes its time, and only then comes the OK: a terminal that does not wait for it
        // loses its next command.
        echo_ = true;
        mode_ = Mode::Resetting;
        pending_.clear();
        QTimer::singleShot(o_.resetMs, this, [this] {
            if (mode_ != Mode::Resetting)
                return;
            mode_ = Mode::Command;
            answer("\r\nOK\r\n");
        });
        return;
    }
    if (upper != o_.setup.toUpper()) {
        answer("\r\nERROR\r\n");
        return;
    }
    if (o_.silentTo.contains("setup"))
        return;
    // Echo follows the last E0 or E1 of the set-up command (ATM0E0 turns it off).
    for (qsizetype e = upper.indexOf('E', 2); e >= 0; e = upper.indexOf('E', e + 1))
        if (e + 1 < upper.size() && (upper[e + 1] == '0' || upper[e + 1] == '1'))
            echo_ = upper[e + 1] == '1';
    answer("\r\nOK\r\n");
}

void Modem::dialled()
{
    if (mode_ != Mode::Dialling)
        return;  // the line dropped while we dialled
    mode_ = Mode::Command;
    if (o_.dial == "busy")
        answer("\r\nBUSY\r\n");
    else if (o_.dial == "nocarrier")
        answer("\r\nNO CARRIER\r\n");
    else if (o_.dial == "connect") {
        answer("\r\nCONNECT 9600\r\n");
        mode_ = Mode::Pad;
    }
    // "silent": nothing at all, as a modem that never gets a carrier and never says so.
}

// "CN user/password-address": the call request. Anything else is a line the PAD does not know.
void Modem::pad(const QByteArray& line)
{
    if (!line.toUpper().startsWith("CN")) {
        answer("err\r\n");
        return;
    }
    const QByteArray rest = line.mid(2);
    const qsizetype slash = rest.indexOf('/');
    const qsizetype dash = slash < 0 ? -1 : rest.lastIndexOf('-');
    if (slash < 0 || dash < slash) {
        log("call refused: no user/password-address in the request");
        answer("clr\r\n");
        return;
    }
    const QString user = QString::fromLatin1(rest.left(slash)).trimmed();
    const QString password = QString::fromLatin1(rest.mid(slash + 1, dash - slash - 1));
    const QString address = QString::fromLatin1(rest.mid(dash + 1)).trimmed();
    if ((!o_.user.isEmpty() && user != o_.user) || (!o_.password.isEmpty() && password != o_.password)) {
        log("call refused: wrong user or password");
        answer("clr\r\n");
        return;
    }
    const QString target = o_.routes.value(address);
    if (target.isEmpty()) {
        log("call refused: no route for X.25 address " + address);
        answer("clr\r\n");
        return;
    }
    placeCall(address, target);
}

void Modem::placeCall(const QString& address, const QString& target)
{
    const qsizetype colon = target.lastIndexOf(':');
    mode_ = Mode::Calling;
    call_ = new QTcpSocket(this);
    connect(call_, &QTcpSocket::connected, this, [this, address, target] {
        log("call to " + address + " connected to " + target);
        mode_ = Mode::Data;
        answer("com\r\n");
        if (!pending_.isEmpty()) {
            call_->write(pending_);
            pending_.clear();
        }
    });
    connect(call_, &QTcpSocket::readyRead, this, [this] {
        const QByteArray b = call_->readAll();
        log(QString("card centre -> terminal %1 bytes").arg(b.size()));
        answer(b);
    });
    connect(call_, &QTcpSocket::errorOccurred, this, [this] {
        callCleared(mode_ == Mode::Calling ? "call failed: " + call_->errorString()
                                           : "the card centre ended the call: " + call_->errorString());
    });
    call_->connectToHost(target.left(colon), quint16(target.mid(colon + 1).toUInt()));
}

// The call ends but the line stays with the PAD, which says so with its clear signal.
void Modem::callCleared(const QString& why)
{
    hangUp(why);
    mode_ = Mode::Pad;
    answer("clr\r\n");
}
