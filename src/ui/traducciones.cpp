#include "traducciones.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QStringList cargarTraducciones()
{
    const QLocale idioma(QLocale::Spanish, QLocale::Spain);
    const QString carpeta = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QStringList cargados;
    const auto cargar = [&](const QString &catalogo) {
        auto *traductor = new QTranslator(QCoreApplication::instance());
        if (traductor->load(idioma, catalogo, QStringLiteral("_"), carpeta)
            && QCoreApplication::installTranslator(traductor)) {
            cargados << catalogo;
            return true;
        }
        delete traductor;
        return false;
    };
    // The modules the panel uses. "qt" gathers qtbase with modules it does not use, and
    // fails to load where one of those is missing: only where qtbase has no catalog.
    if (!cargar(QStringLiteral("qtbase")))
        cargar(QStringLiteral("qt"));
    cargar(QStringLiteral("qtserialport"));
    return cargados;
}
