// timora-clock: a window with a Timora control that says when each of its schedule entries falls
// due, and prints every alert as it comes.
//   timora-clock [--ticks N] [MASK...]     (default mask "* * * * 0": every full hour)
// A mask is weekday, month, day, hour and minute ("*" for any); --ticks N ends after N ticks of the
// control (ten a second), for scripts and tests.
#include <timora/timora.h>

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QStringList masks;
    int ticks = -1;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--ticks") && i + 1 < args.size())
            ticks = args[++i].toInt();
        else
            masks << args[i];
    }
    if (masks.isEmpty()) masks << QStringLiteral("* * * * 0");

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* timora = new tollan::Timora(&window);
    auto* next = new QLabel(&window);
    layout->addWidget(timora);
    layout->addWidget(next);
    for (qsizetype i = 0; i < masks.size(); ++i)
        timora->Insert(masks[i], QStringLiteral("entry %1").arg(i + 1), masks[i]);
    timora->Interval(100);

    // When each entry next falls due, as the control itself reckons it.
    for (qsizetype i = 0; i < masks.size(); ++i) {
        tollan::TimoraError error;
        const QDateTime at = timora->NextTime(QStringLiteral("entry %1").arg(i + 1), &error);
        const QString line = error ? QStringLiteral("%1: %2").arg(masks[i], error.description)
                                   : QStringLiteral("%1: next at %2").arg(masks[i], at.toString(Qt::ISODate));
        std::printf("%s\n", qPrintable(line));
        next->setText(next->text() + line + QLatin1Char('\n'));
    }
    std::fflush(stdout);

    QObject::connect(timora, &tollan::Timora::Alert, [](QString& category, QString& action) {
        std::printf("%s: %s falls due now\n", qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)),
                    qPrintable(category + QLatin1String(" (") + action + QLatin1Char(')')));
        std::fflush(stdout);
    });
    QObject::connect(timora, &tollan::Timora::Timer, [&ticks] {
        if (ticks > 0 && --ticks == 0) QCoreApplication::quit();
    });
    window.setWindowTitle(QStringLiteral("Timora clock"));
    window.show();
    return app.exec();
}
