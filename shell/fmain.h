#pragma once
// fMain, the terminal's only permanent window. Loading it starts the whole terminal; everything
// afterwards runs as its handlers or those of the components it owns (the workstation service, the
// card-centre sockets, the serial port, the scheduler Timora1). Closing it ends the program.

#include "support/clock.h"
// moc reads no coroutine headers.
#ifndef Q_MOC_RUN
#include "support/task.h"
#endif
#include "workstation/packet.h"
#include "workstation/requester.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSerialPort;

namespace tollan {

class fJournal;
class Socket;
class Timora;
class WorkstationService;

// The two pictures of the traffic indicator: 1 idle, 2 busy.
class ImageList : public QObject {
public:
    explicit ImageList(QObject* parent);
    QPixmap image(int index) const;  // 1-based; an empty picture outside 1..2

private:
    QList<QPixmap> images_;
};

class fMain : public QWidget {
    Q_OBJECT
public:
    explicit fMain(QWidget* parent = nullptr);
    ~fMain() override;

    // The terminal runs as the package's service (`--service`); set before Form_Load.
    void setService(bool service) { asService_ = service; }
    // Start-up, the thirteen steps of the window's load; shutdown, the three of its unload.
    void Form_Load();
    void Form_Unload();
    void PlaceFrames();
    // What the started terminal is and where it serves, one line (Windows-1252): headless or with
    // a window, the home folder, the port and addresses it listens on, the card centre's
    // addresses and the link that reaches them.
    std::string StartLine() const;

    // Procedures of the window that the operator's transactions use.
    // The next console transaction number, eight upper-case hexadecimal digits.
    std::string cConsole_FindTrans();
    // The operator's request, to the queue with the registers' (its answer comes to the console).
    void cConsole_Send(WorkstationPacket request);
    // What a request of the console's sends it: messages, prompts, print requests and the answer.
    void cConsole_Arrival(const WorkstationPacket& got);
    // Receipts come in pairs printed side by side; the first is held until the second arrives.
    bool cConsole_Print(const std::string& text);

    // Handlers of the window's components.
    void cErrShow_Click();
    void cErrLog_Click();
    void cMenu_Click();
    // The operator's purchase and cancellation: the same packets a register sends, to the console.
    void cTehing_Click();
    void cTyhista_Click();
    void mTooSeaded_Click();
    void mTooSendFile_Click();
    void mTooVead_Click();
    void mTooPaevik_Click();
    void mTooLopp_Click();
    void Timora1_Alert(const QString& category, const QString& action);
    void Timora1_Timer();

    // The components (valid from the construction; the workstation sockets from step 7 of start-up).
    WorkstationService* service() const { return service_; }
    Timora& timora() const { return *Timora1_; }
    QSerialPort& comm() const { return *MSComm1_; }
    QMenu& menu() const { return *mToo_; }
    const std::string& pendingReceipt() const { return pendingReceipt_; }
    // The console as a requester of the service: the operator's own requests answer it.
    Requester& console() const { return *console_; }

    // What the transfer job runs (the card-centre transfer loop) and where a console document is
    // printed; tests put their own.
    std::function<Task<int>()> sendTransFiles;
    // What a start finishes of the last run's work with the card centre (a file without its
    // verdict, a cancellation without its verdict) before the next send time.
    std::function<Task<int>()> finishUnfinished;
    std::function<bool(const std::string& text)> printDocument;
    // `--card-key FILE`, empty for the default source of the card-number keys.
    QString cardKeyFile;
    // The settings dialog that the menu opens without blocking the window.
    std::function<QWidget*(QWidget* parent)> openSettings;

signals:
    // The window has unloaded: the program ends.
    void ended();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    void BuildMenu();
    void ShowTraffic(int image);
    void PlaceWindow();
    void LoadSchedule();
    void CheckSettings();
    void SetUpSerialPort();
    void OpenCardKey();
    void RefreshUnsentStatus();
    // The operator's own transaction: the buttons rest from the click until its answer.
    void OperatorRequestStarts(const std::string& trans, bool cancellation);
    void OperatorRequestEnds(const std::string& trans, bool approved);
    void ShowErrorDetails();
    bool ConfirmEnd();
    void ShowErrorLog();
    void PostDueTransfer();
    Task<void> RunDueTransfer();
    // The operator's answer to a prompt of the console's request, in the window.
    void AskOperator(const std::string& prompt, const std::string& second);
    // The cancellation, once the operator has named the transaction.
    void CancelNumberGiven(const std::string& answer);
    // The operator said "Jah" to the cancellation of `key`: it goes to the queue.
    void SendCancellation(const std::string& key);
    QWidget* Part(const char* name) const;
    QLabel* Label(const char* name) const;
    void PopUpMenu(const QPoint& global);

    QGroupBox* frames_[2] = {};
    ImageList* ImageList1_;
    Timora* Timora1_;
    QSerialPort* MSComm1_;
    QMenu* mToo_;
    QPointer<fJournal> journal_;
    WorkstationService* service_ = nullptr;
    std::shared_ptr<Requester> console_;
    QPointer<QWidget> settings_;
    QPointer<QWidget> prompt_;     // the console's prompt now open
    std::string pendingReceipt_;   // the first receipt of a pair
    bool loaded_ = false, unloaded_ = false;
    bool asService_ = false;
    std::int64_t statusStep_ = kNoTenSeconds;  // the ten seconds of the last status refresh
    // A transfer was asked for (a send time, the menu) and has not run yet.
    bool transferDue_ = false;
    bool transferRunning_ = false;
    bool unfinishedDue_ = false;   // the last run's unfinished work, found at the start
    std::string operatorTrans_;    // the operator's transaction under way ("" none)
    bool operatorCancels_ = false;
    int errorShown_ = -1;          // the error ring's slot the indicator shows
};

} // namespace tollan
