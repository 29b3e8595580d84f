#pragma once

#include <QLocale>
#include <QStringList>

// Qt's own texts (standard buttons, the file dialog, port and file errors) in the user's
// language, from the catalogs Qt installs. Call once QApplication exists; gives the names of
// the catalogs loaded (none where the language has none or they are not installed).
QStringList cargarTraducciones(const QLocale &idioma = QLocale());
