#pragma once

#include <cstdint>
#include <optional>

#include <QFile>

#include "core/reloj.h"

// The window's own variables, read and written by the handlers of every subsystem.
struct VariablesVentana
{
    int16_t puntosX = 0;          // length of the sample window
    // Carried by every sample to the chart and the log; unknown until the controller reports
    // it (or one is sent), and again after every opening of the port.
    std::optional<int16_t> setPoint;
    bool esperaSetPoint = false;  // the next received byte is a set point
    std::optional<Reloj::Instante> tiempoAnterior; // steady clock at the previous sample
    bool registroAbierto = false; // archivoRegistro is open
    QFile archivoRegistro;        // the open log file
};
