#pragma once

#include "log/registro.h"

class QFileDialog;
class QWidget;

// The question asked where logging is switched on over a file that already holds records:
// window-modal, in its own event loop like the save dialog, so receive events keep being
// handled (the log holds their samples until the answer).
Registro::Respuesta preguntarRegistro(QWidget *ventana, const QString &ruta);

// «Cambiar destino...»: a modal save dialog on the log's folder and name. The file chosen, or
// an empty text where the user cancelled.
QString elegirDestino(QFileDialog &dialogo, const QString &actual);
