#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QTimer>

#include "core/reloj.h"
#include "escalon/respuestaescalon.h"
#include "serial/eventoscomm.h"

class QCheckBox;
class QLineEdit;
class GraficoTendencia;
class Registro;
class VentanaMuestras;
struct VariablesVentana;


// Turns the controller's byte stream into samples and set points and drives, for every
// sample, the read-outs, the sample window and the log.
class Adquisicion
{
public:
    static constexpr uint8_t marcaSetPoint = 255;

    Adquisicion(VariablesVentana &variables, QLineEdit &txtTiempo, QLineEdit &txtDato,
                const QCheckBox &chkRegistrar, VentanaMuestras &ventana,
                GraficoTendencia &grafico, Registro &registro);

    // The serial control's communication event; `entrada` is everything that was waiting
    // when the event is a receive, and is not looked at otherwise. Its bytes reached the port
    // over `llegada` before now (nothing: all of them just now); its samples are timed evenly
    // across that stretch, never before the previous sample, the last one now.
    void procesarEntrada(int16_t codigo, QByteArrayView entrada,
                         std::chrono::nanoseconds llegada = {});

    // The port has just been opened (by the user or on a device's return): the decoder waits
    // for a sample and the set point is unknown until the controller reports it.
    void puertoAbierto();

    // «Enviar» has just sent a set point, `anterior` the one before it: reports of it already on
    // their way when the controller got the new one are not a step back.
    void setPointEnviado(std::optional<int16_t> anterior);

    // Samples handled since start: every one reached the window (and the log, when on).
    uint64_t muestrasRecibidas() const { return muestras_; }

    // Writes the read-outs for the last sample handled. They change about five times a
    // second, as a panel instrument's do, together with a frame of the chart where one comes
    // in time: a repaint of the read-outs per event, or per frame, would cost more than all
    // the rest of the work at the line rate. They always end on the last sample.
    static constexpr int intervaloLecturasMs = 200;
    void escribirLecturas();

    Reloj &reloj() { return reloj_; }
    const RespuestaEscalon &respuesta() const { return respuesta_; }

private:
    VariablesVentana &variables_;
    QLineEdit &txtTiempo_;
    QLineEdit &txtDato_;
    const QCheckBox &chkRegistrar_;
    VentanaMuestras &ventana_;
    GraficoTendencia &grafico_;
    Registro &registro_;
    void lecturasConFotograma();
    void lecturasSinFotograma();
    // Samples in `entrada` for a decoder starting in the given state.
    static int contarMuestras(QByteArrayView entrada, bool esperaSetPoint);

    // A sample's wall-clock time in milliseconds, from the event's readings of both clocks.
    int64_t msEpoca(Reloj::Pared pared, Reloj::Instante ahora, Reloj::Instante instante);

    Reloj reloj_;
    int64_t ultimoMs_ = INT64_MIN;
    RespuestaEscalon respuesta_;
    uint64_t muestras_ = 0;
    bool lecturasPendientes_ = false;
    QElapsedTimer desdeLecturas_;
    // For the last samples, when no frame comes to carry them (one would, within the
    // interval and two frames, while samples keep coming and the window is on show).
    QTimer lecturasTarde_;
    // Whether a reported set point is the one before a send, still on its way; out of line,
    // as it comes rarely and the loop over the bytes is the hot path.
    [[gnu::noinline]] bool enVuelo(uint8_t setPoint, Reloj::Instante ahora);
    // The set point before a send, and until when a report of it is taken as in flight.
    std::optional<int16_t> enVuelo_, enVueloPrimero_;
    Reloj::Instante enVueloHasta_{};
    float ultimoTranscurrido_ = 0.0f;
    int16_t ultimoDato_ = 0;
};
