#pragma once

#include "log/registro.h"

class QWidget;

// The question asked where logging is switched on over a file that already holds records:
// window-modal, in its own event loop like the save dialog, so receive events keep being
// handled (the log holds their samples until the answer).
Registro::Respuesta preguntarRegistro(QWidget *ventana, const QString &ruta);
