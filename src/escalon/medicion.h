#pragma once

#include <cstdint>
#include <optional>

#include "core/reloj.h"
#include "escalon/modelo.h"

class RegistroEscalon;

// What keeps the model's figures from being shown: the samples' own (rise, peak) are.
enum class NotaEscalon {
    ninguna,
    pequeno,       // the step is too small to measure against the noise and whole counts
    sinRespuesta,  // the value has not moved beyond what the noise allows
    corta,         // too little of the response yet to tell where it ends
    saturada,      // the reading is clipped at 0 or 254, where the response would go beyond
    rampa,         // runs on past the set point with no end in sight
    sinAmortiguar, // swings without dying away
    noSeAjusta,    // the residual is over the noise, or runs in stretches of one sign
};

// A step's figures. A figure not yet defined is nullopt. Times in seconds from the step, the
// first sample that carries the new set point; values in counts.
struct FigurasEscalon
{
    bool hay = false;     // a step has been seen
    bool pequeno = false; // too small to measure against the noise and whole counts
    NotaEscalon nota = NotaEscalon::ninguna;
    std::optional<int> limite; // where the reading is clipped, with nota saturada
    bool cortado = false; // it ended (the next step, the port closed) before it was final
    int16_t desde = 0, hasta = 0; // the set points
    Reloj::Instante inicio{};
    double espaciado = 0.0; // mean time between samples
    double ruido = 0.0;     // of one sample
    bool ruidoEnReposo = false; // measured at rest before the step, else on the residual
    double inicial = 0.0;   // the value when the step came
    double nivel10 = 0.0, nivel90 = 0.0;
    std::optional<double> valorFinal;
    std::optional<double> banda;           // half-width of the settling band
    std::optional<double> subida;          // 10 % to 90 % of the way to the final value
    std::optional<double> pico;            // furthest value in the step's direction
    std::optional<double> sobreimpulso;    // % of the response past the final value
    std::optional<double> tiempoPico;      // only with a peak the samples show
    std::optional<double> establecimiento; // last entry into the band
    std::optional<double> error;           // set point - final value
    std::optional<double> errorPorciento;  // of the set-point step
    std::optional<double> periodo;         // of a swing that does not die away
    // The fitted response, where it fits, and its parameters: zeta and natural frequency,
    // or the time constant where it is first order; the residual per sample.
    std::optional<Modelo> modelo;
    std::optional<double> zeta, wn, constante, retardo, residuo;
    // Figures the data do not pin down yet, shown as such until they do.
    bool subidaProvisional = false, picoProvisional = false, tiempoPicoProvisional = false;
    bool establecimientoProvisional = false, finalProvisional = false;
};

// All a step's figures depend on: its set points and start, the samples before it (since the
// set point last changed and the port opened, oldest first), its record, and whether it has
// ended (the next step, the port reopened).
struct DatosEscalon
{
    int16_t desde = 0, hasta = 0;
    Reloj::Instante inicio{};
    const double *antes = nullptr;
    int antesN = 0;
    const RegistroEscalon *registro = nullptr;
    bool terminado = false;
};

// The figures of a step, a function of its data alone: the live table, the window and the
// log window all get theirs here, so the same samples give the same figures.
FigurasEscalon medirEscalon(const DatosEscalon &d);
