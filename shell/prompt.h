#pragma once
// A prompt of the window that has an end: the question, a field for the answer, "OK" and
// "Katkesta", and the time left. It does not hold the window: the operator's own request waits for
// it, every other request goes on. When the time is up, or its request ends first, it closes as
// unanswered.

#include <QDialog>

class QLabel;
class QLineEdit;
class QTimer;

namespace tollan {

class PromptDialog : public QDialog {
    Q_OBJECT
public:
    // `seconds` 0: no limit.
    PromptDialog(QWidget* parent, const QString& question, const QString& answer, double seconds);
    ~PromptDialog() override;
    QLineEdit* field() const { return field_; }

signals:
    // The operator's answer; an empty one when "Katkesta", Escape or the time left it unanswered.
    void answered(const QString& text);

private:
    void finish(const QString& text);
    void showTimeLeft();
    QLineEdit* field_;
    QLabel* timeLeft_;
    QTimer* refresh_;
    std::int64_t deadlineMs_;
    int timer_ = 0;
    bool finished_ = false;
};

} // namespace tollan
