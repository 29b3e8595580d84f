#pragma once

class QWidget;

// Log-out and shutdown (SIGTERM), Ctrl+C (SIGINT) and a closed terminal (SIGHUP) end the panel
// as closing its window does: the log closed, the port closed and unlocked. A file-size limit
// fails the log's write instead of killing the panel. A signal ignored when the panel starts
// (nohup's SIGHUP, a script's SIGINT) stays ignored. Elsewhere than POSIX nothing is done.
namespace senales {

void cerrarAlRecibir(QWidget &ventana);

} // namespace senales
