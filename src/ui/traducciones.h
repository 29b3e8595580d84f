#pragma once

#include <QStringList>

// Qt's own texts (buttons, the file dialog, port and file errors) in Spanish whatever the
// locale, as the panel's own are. Call once QApplication exists; gives the catalogs loaded.
QStringList cargarTraducciones();
