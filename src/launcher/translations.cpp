#include "launcher/translations.h"

#include "launcher/startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tarv {

QTranslator* installJapaneseTranslations()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        qCWarning(lcLauncher) << "Qt's Japanese translation (qtbase_ja.qm) is missing; its buttons stay in English";
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

} // namespace tarv
