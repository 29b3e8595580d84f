#pragma once

class QWidget;

// SIGTERM, SIGINT and SIGHUP close the panel as its window's button does (log and port closed);
// one ignored at start (nohup, a script) stays ignored; a file-size limit fails the write.
namespace senales {

void cerrarAlRecibir(QWidget &ventana);

} // namespace senales
