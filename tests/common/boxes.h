#pragma once
// The operator at the screen: answers the message and input boxes the program opens, by the
// caption of the button a person would press, and keeps what each box said.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "tests/common/shots.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tollan::test {

struct Operator {
    // For each box to come, in order: the button's caption ("Jah", "Ei", "OK", "Loobu"), and for an
    // input box the text typed first. kLeaveIt leaves the box as it is: the operator walked away.
    struct Answer {
        Answer(QString b, QString t = {}, QString s = {}) : button(std::move(b)), typed(std::move(t)), shot(std::move(s)) {}
        QString button;
        QString typed;
        QString shot;   // the box's picture for the documentation under this name (tests/common/shots.h)
    };
    static inline const QString kLeaveIt = QStringLiteral("(nobody answers)");
    std::deque<Answer> answers;
    std::vector<QString> seen;      // each box's text, as shown
    std::vector<QStringList> buttons;   // each box's button captions
    QWidget* parentSeen = nullptr;  // the last box's parent window
    int unexpected = 0;             // boxes that came with no answer waiting

    Operator() { QObject::connect(&poll_, &QTimer::timeout, [this] { Answer(); }); poll_.start(5); }

private:
    void Answer()
    {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || box == last_) {
            found_ = nullptr;
            return;
        }
        // Pressed a little after the box shows, as a person would: a press while the box is still
        // being shown would close it before it waits for its answer.
        if (box != found_) {
            found_ = box;
            since_.start();
            return;
        }
        // A box nobody expected is refused after half a second (and counted), so that a test that
        // goes wrong fails instead of waiting for ever.
        if (since_.elapsed() < (answers.empty() ? 500 : 20))
            return;
        if (answers.empty()) {
            ++unexpected;
            answers.push_back({qobject_cast<QInputDialog*>(box) ? "Loobu" : Prompt(box) ? "Katkesta" : "OK", ""});
            if (auto* message = qobject_cast<QMessageBox*>(box); message && message->button(QMessageBox::No))
                answers.back().button = "Ei";
        }
        last_ = box;
        found_ = nullptr;
        const auto a = answers.front();
        answers.pop_front();
        parentSeen = box->parentWidget();
        if (!a.shot.isEmpty())
            Shot(box, a.shot);
        QStringList captions;
        for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
            captions << b->text().remove('&');
        buttons.push_back(captions);
        if (a.button == kLeaveIt) {
            seen.push_back(box->windowTitle());
            return;
        }
        if (auto* files = qobject_cast<QFileDialog*>(box)) {
            seen.push_back(files->windowTitle());
            // Typed into its file name field, as a person may.
            if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(a.typed);
            a.button == "Loobu" ? files->reject() : static_cast<QDialog*>(files)->accept();   // as its Open button does
            return;
        }
        if (auto* input = qobject_cast<QInputDialog*>(box)) {
            seen.push_back(input->labelText());
            input->setTextValue(a.typed);
        } else if (QLineEdit* field = Prompt(box)) {   // the window's own prompt of a request
            const auto* question = box->findChild<QLabel*>(QStringLiteral("lKysimus"));
            seen.push_back(question ? question->text() : QString());
            field->setText(a.typed);
        } else if (auto* message = qobject_cast<QMessageBox*>(box)) {
            seen.push_back(message->text());
        }
        for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
            if (b->text().remove('&') == a.button) {
                b->click();
                return;
            }
        seen.back() += " [no button " + a.button + "]";
        box->close();
    }
    // The answer field of the window's prompt (fKysimus), when `box` is one.
    static QLineEdit* Prompt(QWidget* box)
    {
        return box->objectName() == QLatin1String("fKysimus") ? box->findChild<QLineEdit*>(QStringLiteral("tVastus")) : nullptr;
    }
    QTimer poll_;
    // Guarded: a box is destroyed when it closes, and the next may be built at its address.
    QPointer<QWidget> last_;
    QPointer<QWidget> found_;
    QElapsedTimer since_;
};

} // namespace tollan::test
