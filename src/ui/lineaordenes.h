#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "programa/programa.h"

class Form1;

// The command line: an entry for shortcuts and scripts. `velmora [PUERTO] [--conectar]`
// fills «Puerto Serial» and, with --conectar, presses «Conectar» once the window is up;
// --consigna shows the set-point row; --milisegundos logs times with milliseconds from now on;
// --ver ARCHIVO opens only the window that shows a log; --programa ARCHIVO loads a set-point
// program, --iniciar runs it once the port is open, --resultados ARCHIVO writes its results.
namespace lineaordenes {

struct Ordenes
{
    QString puerto;
    bool conectar = false;
    bool consigna = false;
    bool milisegundos = false;
    QString ver{}; // a log to look at, with no port and no panel
    std::optional<Programa> programa{}; // read from --programa
    QString archivoPrograma{};
    bool iniciar = false; // the program, once the port is open
    QString resultados{}; // where its results go when it ends
};

// What to print and the exit code, when the program ends without opening the window
// (--help, --version, a mistake on the line).
struct Salida
{
    int codigo;
    QString texto;
};

// Reads the arguments (the program's name first). Needs no QApplication, so --help and
// --version answer without a display. Qt's own options (-platform, -style, -session...) are
// stepped over with their values: QApplication takes them afterwards.
std::optional<Salida> leer(const QStringList &argumentos, Ordenes &ordenes);

// Prints the text (help and version on standard output, mistakes on standard error) and
// gives the exit code.
int terminar(const Salida &salida);

void aplicar(const Ordenes &ordenes, Form1 &ventana);

} // namespace lineaordenes
