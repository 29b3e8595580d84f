#pragma once

#include <functional>

class QObject;

// SIGTERM, SIGINT and SIGHUP end the program as its own way out does (the panel's close
// button: log and port closed); one ignored at start (nohup, a script) stays ignored; a
// file-size limit fails the write instead of killing the program.
namespace senales {

// `cerrar` runs on `contexto`'s thread, in its event loop, after which the loop is asked to
// quit (also a dialog's own loop that may be open).
void cerrarAlRecibir(QObject &contexto, std::function<void()> cerrar);

} // namespace senales
