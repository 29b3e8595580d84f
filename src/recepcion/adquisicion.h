#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include <QByteArrayView>
#include <QString>

#include "core/reloj.h"
#include "escalon/respuestaescalon.h"
#include "remoto/lineaprotocolo.h"
#include "serial/eventoscomm.h"

class PuertoSerie;
class Registro;
class VentanaMuestras;
struct VariablesVentana;


// Turns the controller's byte stream into samples and set points and drives, for every
// sample, the sample window, the step analysis and the log. What the read-outs show is kept
// for whoever shows it: nothing here touches a window.
class Adquisicion
{
public:
    static constexpr uint8_t marcaSetPoint = 255;

    Adquisicion(VariablesVentana &variables, VentanaMuestras &ventana, Registro &registro);

    // Called at the end of every receive event that brought samples (a window asks for a
    // frame and its read-outs).
    void setAlRecibir(std::function<void()> alRecibir) { alRecibir_ = std::move(alRecibir); }

    // The serial control's communication event; `entrada` is everything that was waiting
    // when the event is a receive, and is not looked at otherwise. Its bytes reached the port
    // over `llegada` before now (nothing: all of them just now); its samples are timed evenly
    // across that stretch, never before the previous sample, the last one now.
    void procesarEntrada(int16_t codigo, QByteArrayView entrada,
                         std::chrono::nanoseconds llegada = {});

    // Samples that come already decoded with their own wall-clock times (a controller on
    // another computer, through a bridge): the same steps as a receive event's samples.
    void procesarMuestras(std::span<const lineaprotocolo::Muestra> muestras);

    // Every sample as it is handled, with its set point and wall-clock time in milliseconds
    // (a bridge publishes them).
    using Oyente = std::function<void(int16_t dato, std::optional<int16_t> setPoint, int64_t msEpoca)>;
    void setOyente(Oyente oyente) { oyente_ = std::move(oyente); }

    // Every sample at once with its instant, before the next is handled: a running program's
    // safety limits act from here, not a frame later.
    using Vigilante = std::function<void(int16_t dato, Reloj::Instante instante)>;
    void setVigilante(Vigilante vigilante) { vigilante_ = std::move(vigilante); }

    // The port has just been opened (by the user or on a device's return): the decoder waits
    // for a sample and the set point is unknown until the controller reports it. Where
    // samples came before, the trend shows a break before the next one, saying `motivo`.
    // Steps from now on are said to come from `origen`.
    void puertoAbierto(const QString &motivo = QString(), const QString &origen = QString());

    // A pause in the samples longer than this, and than `pausaRelativa` times their usual
    // spacing, is a break in the trend: the controller stopped sending.
    static constexpr float pausaMinima = 1.0f;
    static constexpr float pausaRelativa = 10.0f;
    static constexpr float espaciadoMinimo = 1e-6f;

    // Sends a set point as «Enviar» does: one byte to the controller; the samples that follow
    // carry it (only once sent: the chart and the log never show one it did not get), and
    // reports of the one before it already on their way are not a step back. False, with
    // the port's reason, when the port refuses it.
    bool enviarSetPoint(PuertoSerie &puerto, uint8_t valor, QString *motivo);

    // Samples handled since start: every one reached the window (and the log, when on).
    uint64_t muestrasRecibidas() const { return muestras_; }

    // The read-outs for the last sample handled: the seconds since the sample before it and
    // its value. They change about five times a second, as a panel instrument's do: a repaint
    // per event, or per frame, would cost more than all the rest of the work at the line rate.
    static constexpr int intervaloLecturasMs = 200;
    struct Lectura
    {
        float transcurrido;
        int16_t dato;
        std::optional<int16_t> setPoint; // the controller's, as last known
    };
    // The reading of the last sample, once: nullopt where no sample came since the last call.
    std::optional<Lectura> tomarLectura()
    {
        if (!lecturaNueva_)
            return std::nullopt;
        lecturaNueva_ = false;
        return Lectura{ultimoTranscurrido_, ultimoDato_, ultimoSetPoint_};
    }

    Reloj &reloj() { return reloj_; }
    // The set point the samples carry now: the controller's last report or the last sent.
    std::optional<int16_t> setPoint() const;
    const RespuestaEscalon &respuesta() const { return respuesta_; }

private:
    VariablesVentana &variables_;
    VentanaMuestras &ventana_;
    Registro &registro_;
    std::function<void()> alRecibir_;
    Oyente oyente_;
    Vigilante vigilante_;
    float muestra(int16_t dato, Reloj::Instante instante, int64_t ms, bool &registrar, bool retener);
    void terminarEvento(bool huboMuestra, bool registrar, float transcurrido, int16_t dato);
    // Samples in `entrada` for a decoder starting in the given state.
    static int contarMuestras(QByteArrayView entrada, bool esperaSetPoint);

    // A sample's wall-clock time in milliseconds, from the event's readings of both clocks.
    int64_t msEpoca(Reloj::Pared pared, Reloj::Instante ahora, Reloj::Instante instante);

    Reloj reloj_;
    int64_t ultimoMs_ = INT64_MIN;
    RespuestaEscalon respuesta_;
    uint64_t muestras_ = 0;
    bool lecturaNueva_ = false;
    // The sample in hand came `transcurrido` seconds after the one before: a break, or the
    // controller's pace. Out of line: only pauses over a second come here.
    [[gnu::noinline]] void cortar(float transcurrido);
    // A set point has just been sent, `anterior` the one before it.
    void setPointEnviado(std::optional<int16_t> anterior);
    // Whether a reported set point is the one before a send, still on its way; out of line,
    // as it comes rarely and the loop over the bytes is the hot path.
    [[gnu::noinline]] bool enVuelo(uint8_t setPoint, Reloj::Instante ahora);
    // The set point before a send, and until when a report of it is taken as in flight.
    std::optional<int16_t> enVuelo_, enVueloPrimero_;
    Reloj::Instante enVueloHasta_{};
    float ultimoTranscurrido_ = 0.0f;
    // The samples' usual spacing (a running mean, pauses left out), and why the next sample
    // comes after a break (empty: none).
    float espaciado_ = 0.0f;
    bool trasCorte_ = false; // the last sample came after a break
    QString corte_;
    int16_t ultimoDato_ = 0;
    std::optional<int16_t> ultimoSetPoint_;
};
