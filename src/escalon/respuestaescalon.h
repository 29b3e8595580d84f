#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/reloj.h"
#include "escalon/modelo.h"
#include "escalon/registroescalon.h"

// The response to each change of the set point that samples carry, measured on the samples
// that follow with each sample's own time. Fed every sample in the receive path: constant
// work and no allocation per sample. The figures come from a model fitted to the step's
// record when they are asked for (and kept while no sample comes), never per sample.
class RespuestaEscalon
{
public:
    // What keeps the model's figures from being shown: the samples' own (rise, peak) are.
    enum class Nota {
        ninguna,
        pequeno,      // the step is too small to measure against the noise and whole counts
        sinRespuesta, // the value has not moved (a dead time still running, or no answer)
        corta,        // too little of the response yet to tell where it ends
        saturada,     // held at 0 or 254, where the samples end
        rampa,        // runs on past the set point with no end in sight
        sinAmortiguar, // swings without dying away
        noSeAjusta,   // the residual is well over the noise before the step
    };

    // A figure not yet defined is nullopt. Times in seconds from the step, the first sample
    // that carries the new set point; values in counts.
    struct Figuras
    {
        bool hay = false;     // a step has been seen
        bool pequeno = false; // too small to measure against the noise and whole counts
        Nota nota = Nota::ninguna;
        bool cortado = false; // it ended (the next step, the port closed) before it settled
        int16_t desde = 0, hasta = 0; // the set points
        Reloj::Instante inicio{};
        double espaciado = 0.0; // mean time between samples
        double ruido = 0.0;     // of one sample, before the step
        double inicial = 0.0;   // the value when the step came
        double nivel10 = 0.0, nivel90 = 0.0;
        std::optional<double> valorFinal;
        std::optional<double> banda;           // half-width of the settling band
        std::optional<double> subida;          // 10 % to 90 % of the way to the final value
        std::optional<double> pico;            // furthest value in the step's direction
        std::optional<double> sobreimpulso;    // % of the response past the final value
        std::optional<double> tiempoPico;
        std::optional<double> establecimiento; // last entry into the band
        std::optional<double> error;           // set point - final value
        std::optional<double> errorPorciento;  // of the set-point step
        std::optional<double> periodo;         // of a swing that does not die away
        // The fitted response, where it fits, and its parameters: zeta and natural frequency,
        // or the time constant where it is first order; the residual per sample.
        std::optional<Modelo> modelo;
        std::optional<double> zeta, wn, constante, retardo, residuo;
        // Figures the data do not pin down yet, shown as such until they do.
        bool subidaProvisional = false, picoProvisional = false;
        bool establecimientoProvisional = false, finalProvisional = false;
    };

    static constexpr int escalonesGuardados = 10;
    // Samples kept from before a step, since the set point last changed: its noise and the
    // value it started from.
    static constexpr int muestrasAntes = 256;

    // nullopt: the set point is not known yet. The first one known is where the loop was,
    // not a step.
    void agregar(Reloj::Instante instante, int16_t dato, std::optional<int16_t> setPoint);
    // At every opening of the port: the next set point reported is not a step either, the
    // current step keeps the samples it had (those after the gap are not its response), and
    // the noise of the next is measured on samples from now on.
    void olvidarSetPoint()
    {
        setPoint_.reset();
        cortado_ = cortado_ || grabando_;
        grabando_ = false;
        ultimasN_ = 0;
    }

    Figuras actual() const;
    // The last steps, newest first, the current one included.
    int cuantos() const { return hayEscalon_ ? 1 + historiaN_ : 0; }
    Figuras escalon(int i) const;
    // The current step's samples, for its picture.
    const RegistroEscalon &registro() const { return registro_; }

private:
    void empezar(Reloj::Instante instante, int16_t desde, int16_t hasta);
    Figuras medir() const;

    std::optional<int16_t> setPoint_;
    bool hayEscalon_ = false;
    bool grabando_ = false; // the current step takes the samples that come
    bool cortado_ = false;  // the port closed during the current step
    long long numero_ = 0;  // of the current step, since start
    Reloj::Instante inicio_{};
    int16_t desde_ = 0, hasta_ = 0;
    RegistroEscalon registro_;

    std::array<int16_t, muestrasAntes> ultimas_{}; // ring of the latest samples
    int ultimasSiguiente_ = 0, ultimasN_ = 0;
    std::array<double, muestrasAntes> antes_{}; // those before the current step, oldest first
    int antesN_ = 0;

    // The last figures and the step and samples they were measured on; the last fit starts
    // the next one.
    mutable std::optional<Figuras> medidas_;
    mutable long long medidasNumero_ = -1, medidasMuestras_ = -1;
    mutable bool medidasCortado_ = false;
    mutable std::optional<Modelo> previo_;

    std::array<Figuras, escalonesGuardados - 1> historia_{}; // steps before the current one
    int historiaSiguiente_ = 0, historiaN_ = 0;
};
