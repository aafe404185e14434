// Qt's own texts that reach the operator, with the translation the program installs at start.
#include "shell/translation.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTranslator>
#include "tests/shell/suite.h"

#include <memory>

TEST(QtTexts, TheTextFieldsMenuTheFileDialogAndTheButtonsAreInEstonian)
{
    QTranslator* texts = tollan::Ui_QtTexts();
    ASSERT_NE(texts, nullptr);
    QCoreApplication::installTranslator(texts);
    QLineEdit field;
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList captions;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator()) captions << a->text().section('\t', 0, 0);
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    const auto* lookIn = files.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    const QString lookInText = lookIn ? lookIn->text() : QString();
    QDialogButtonBox buttons(QDialogButtonBox::Cancel);
    const QString cancel = buttons.button(QDialogButtonBox::Cancel)->text();
    QCoreApplication::removeTranslator(texts);

    for (const char* caption : {"&Võta tagasi", "&Tee uuesti", "&Lõika", "&Kopeeri", "&Aseta", "Kustuta", "Vali kõik"})
        EXPECT_TRUE(captions.contains(QString::fromUtf8(caption))) << caption << " in " << captions.join(", ").toStdString();
    EXPECT_EQ(lookInText, QStringLiteral("Otsi kaustast:"));
    EXPECT_EQ(cancel, QStringLiteral("Loobu"));
}
