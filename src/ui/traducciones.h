#pragma once

#include <QStringList>

// Qt's own texts (standard buttons, the file dialog, port and file errors) in Spanish, from
// the catalogs Qt installs, whatever the user's locale: the panel is Spanish, and English
// buttons or error strings inside its messages would be a mixture. Call once QApplication
// exists; gives the names of the catalogs loaded (none where they are not installed).
QStringList cargarTraducciones();
