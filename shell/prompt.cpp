#include "shell/prompt.h"

#include "support/clock.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace tollan {

PromptDialog::PromptDialog(QWidget* parent, const QString& question, const QString& answer, double seconds)
    : QDialog(parent), field_(new QLineEdit(answer, this)), timeLeft_(new QLabel(this)), refresh_(new QTimer(this)),
      deadlineMs_(seconds > 0 ? Clock_Ms() + std::int64_t(seconds * 1000) : -1)
{
    setObjectName(QStringLiteral("fKysimus"));
    setWindowTitle(QStringLiteral("Tollan terminal"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* label = new QLabel(question, this);
    label->setObjectName(QStringLiteral("lKysimus"));
    field_->setObjectName(QStringLiteral("tVastus"));
    timeLeft_->setObjectName(QStringLiteral("lAegaJaanud"));
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Katkesta"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("cOK"));
    cancel->setObjectName(QStringLiteral("cKatkesta"));
    ok->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(field_);
    layout->addWidget(timeLeft_);
    layout->addWidget(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { finish(field_->text()); });
    connect(cancel, &QPushButton::clicked, this, [this] { finish(QString()); });
    connect(this, &QDialog::rejected, this, [this] { finish(QString()); });
    // The time left as the program's clock counts it; the end comes from that clock too.
    connect(refresh_, &QTimer::timeout, this, &PromptDialog::showTimeLeft);
    if (deadlineMs_ >= 0) {
        refresh_->start(1000);
        timer_ = Clock_Current().startTimer(deadlineMs_ - Clock_Ms(), [this] {
            timer_ = 0;
            finish(QString());
        });
    }
    showTimeLeft();
    field_->setFocus();
}

PromptDialog::~PromptDialog()
{
    if (timer_)
        Clock_Current().stopTimer(timer_);
}

void PromptDialog::showTimeLeft()
{
    if (deadlineMs_ < 0) {
        timeLeft_->hide();
        return;
    }
    const auto left = std::max<std::int64_t>(0, deadlineMs_ - Clock_Ms());
    timeLeft_->setText(QString::fromUtf8("Aega jäänud: %1 s").arg(std::llround(double(left) / 1000.0)));
}

void PromptDialog::finish(const QString& text)
{
    if (finished_)
        return;
    finished_ = true;
    if (timer_) {
        Clock_Current().stopTimer(timer_);
        timer_ = 0;
    }
    emit answered(text);
    close();
}

} // namespace tollan
