#include "shell/translation.h"

#include <QTranslator>

namespace tollan {

QTranslator* Ui_QtTexts()
{
    // Built from shell/tollan_et.ts into the program's resources.
    static QTranslator* texts = [] {
        auto* t = new QTranslator;
        if (!t->load(QStringLiteral(":/i18n/tollan_et.qm"))) {
            delete t;
            return static_cast<QTranslator*>(nullptr);
        }
        return t;
    }();
    return texts;
}

} // namespace tollan
