#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <deque>
#include <optional>

#include <QObject>
#include <QTimer>

#include "core/reloj.h"
#include "programa/programa.h"
#include "programa/resultados.h"

class Adquisicion;
class RegistroEscalon;
class PuertoSerie;

// Runs a program: sends each stage's set points the way «Enviar» sends them, on time by the
// panel's clock, watches every sample against the limits and keeps each «Escalón» stage's
// step figures. Driven by its own timer and by the sample path; the clock is the receive
// path's, so a test that sets that clock drives both.
class Ejecutor : public QObject
{
    Q_OBJECT
public:
    // A ramp's counts are due no closer than this: a byte takes half a millisecond on the
    // line, and the timer's grain is a millisecond. A late timer catches up on the schedule,
    // one count at a time, never two closer than `separacionMinima`.
    static constexpr std::chrono::milliseconds espaciadoMinimo{10};
    static constexpr std::chrono::milliseconds separacionMinima{2};
    // Samples kept to draw the repeats over one another: the last ones of each stage, and of
    // the run as a whole (2,048 points a step), so a long run's memory stays bounded. Every
    // step's figures are kept.
    static constexpr int curvasPorEtapa = 20;
    static constexpr int curvasEnTotal = 400;

    enum class Estado { parado, enMarcha, enPausa };
    enum class Fin { ninguno, completo, detenido, seguridad, puertoPerdido, errorEnvio };

    struct Acciones
    {
        // Sends a set point (0 to 100) as «Enviar» does; false with the port's reason.
        std::function<bool(uint8_t valor, QString *motivo)> enviar;
        // The set point the samples carry now (nullopt: unknown).
        std::function<std::optional<int16_t>()> setPoint;
        // The step analysis: how many steps it has seen, and the current one's figures.
        std::function<long long()> numeroEscalon;
        std::function<FigurasEscalon()> escalon;
        // The current step's samples (none: not kept).
        std::function<const RegistroEscalon *()> registro;
    };

    Ejecutor(Reloj &reloj, Acciones acciones, QObject *parent = nullptr);

    // The panel's wiring: set points through the receive path and the port, as «Enviar»
    // sends them (`alEnviar` after each, for the box that shows it); every sample to the
    // limits; the port's loss stops the run.
    static Acciones acciones(Adquisicion &adquisicion, PuertoSerie &puerto,
                             std::function<void()> alEnviar = {});
    void escuchar(Adquisicion &adquisicion, PuertoSerie &puerto);

    void setPrograma(const Programa &p) { programa_ = p; }
    const Programa &programa() const { return programa_; }

    bool iniciar();
    void pausar();
    void reanudar();
    void detener();
    // Sends what is due and moves to the next stage when its time is up.
    void avanzar();
    // Every sample, from the receive path: the safety limits.
    void muestra(int16_t dato, Reloj::Instante instante)
    {
        if (estado_ != Estado::parado && vigilar_)
            vigilar(dato, instante);
    }
    void puertoPerdido(const QString &motivo);

    Estado estado() const { return estado_; }
    Fin fin() const { return fin_; }
    int etapa() const { return etapa_; }           // from 0
    int repeticion() const { return repeticion_; } // from 0
    std::chrono::milliseconds restanteEtapa() const;
    std::chrono::milliseconds restante() const;
    std::chrono::milliseconds total() const;
    // The next instant something is due (a ramp's count or the stage's end).
    std::optional<Reloj::Instante> proximo() const;
    const QList<resultados::Escalon> &escalones() const { return escalones_; }
    // What ended the last run, in words (empty while it runs).
    const QString &mensajeFin() const { return mensajeFin_; }

signals:
    void cambio();
    // Something the user must read: a set point lowered, a ramp too steep, a stop and why.
    void aviso(const QString &texto);
    void terminado();

private:
    void empezarEtapa(Reloj::Instante inicio);
    void cerrarEtapa();
    void terminar(Fin fin, const QString &texto);
    void guardarCurva(qsizetype nueva);
    bool enviar(int valor);
    void programar();
    [[gnu::noinline]] void vigilar(int16_t dato, Reloj::Instante instante);
    Reloj::Instante ahora() const;
    const Etapa &actual() const { return programa_.etapas[etapa_]; }

    Reloj *reloj_;
    Acciones acciones_;
    Programa programa_;
    QTimer temporizador_;
    Estado estado_ = Estado::parado;
    Fin fin_ = Fin::ninguno;
    QString mensajeFin_;
    bool vigilar_ = false;
    int etapa_ = 0, repeticion_ = 0;
    Reloj::Instante inicioEtapa_{}, pausadoDesde_{}, ultimoEnvio_{};
    bool huboEnvio_ = false;
    int rampaDesde_ = 0, rampaHasta_ = 0, rampaCuentas_ = 0, rampaEnviadas_ = 0;
    Reloj::Instante::duration rampaPaso_{};
    std::optional<int> enviadoEtapa_; // what this «Escalón» sent
    long long escalonAntes_ = 0;      // steps seen before it
    int fuera_ = 0;                   // samples in a row beyond a limit
    bool rangoDicho_ = false;
    QList<resultados::Escalon> escalones_;
    std::deque<qsizetype> conCurva_; // steps that still hold their samples, oldest first
};
