#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/reloj.h"

// The response to each change of the set point that samples carry, measured on the samples
// that follow with each sample's own time. Fed every sample in the receive path: constant
// work and no allocation per sample; the figures are worked out when asked for.
class RespuestaEscalon
{
public:
    // A figure not yet defined is nullopt. Times in seconds from the step, the first sample
    // that carries the new set point.
    struct Figuras
    {
        bool hay = false;                      // a step has been seen
        int16_t desde = 0, hasta = 0;          // the set points
        std::optional<double> subida;          // 10 % to 90 % of the step
        std::optional<int16_t> pico;           // furthest value in the step's direction
        std::optional<double> sobreimpulso;    // % of the step past the new set point
        std::optional<double> tiempoPico;
        std::optional<double> establecimiento; // stays within the band from then on
        std::optional<double> errorEstacionario; // mean of value - set point, last second
        std::optional<double> periodo;         // while it keeps swinging past the band
    };

    static constexpr int escalonesGuardados = 10;
    // Samples for the steady-state mean: a second at the line's rate (1920 a second); at
    // higher rates the mean covers the last ones of that second.
    static constexpr int capacidadMedia = 2048;

    void agregar(Reloj::Instante instante, int16_t dato, int16_t setPoint);

    Figuras actual() const;
    // The last steps, newest first, the current one included.
    int cuantos() const { return hayEscalon_ ? 1 + historiaN_ : 0; }
    Figuras escalon(int i) const;

private:
    void empezar(Reloj::Instante instante, int16_t desde, int16_t hasta);
    double segundos(Reloj::Instante instante) const
    {
        return std::chrono::duration<double>(instante - inicio_).count();
    }
    // Where the straight line from the previous sample to this one meets `nivel`.
    double cruce(double nivel, double t, double valor) const;

    bool hayMuestra_ = false;
    bool hayEscalon_ = false;
    int16_t setPoint_ = 0;
    Reloj::Instante inicio_{};
    int16_t desde_ = 0, hasta_ = 0;
    double escalon_ = 0.0;    // hasta - desde
    double tolerancia_ = 0.0; // half the settling band, in counts

    double tAnterior_ = 0.0; // the last sample's, from the step
    double datoAnterior_ = 0.0;
    std::optional<double> t10_, t90_;
    int16_t pico_ = 0;
    double picoDesde_ = 0.0, picoHasta_ = 0.0; // a quantised peak is a run of equal values
    bool enPico_ = false;
    bool paso_ = false;   // went past the new set point
    bool volvio_ = false; // and turned back from its peak
    bool dentro_ = false; // within the band
    double entrada_ = 0.0;
    bool debajo_ = false, encima_ = false; // out of the band since the last upward crossing
    std::optional<double> subidaAnterior_, periodo_;

    struct Punto
    {
        double t;
        int32_t error;
    };
    std::array<Punto, capacidadMedia> media_{};
    int mediaPrimero_ = 0, mediaN_ = 0;
    int64_t mediaSuma_ = 0;

    std::array<Figuras, escalonesGuardados - 1> historia_{}; // steps before the current one
    int historiaSiguiente_ = 0, historiaN_ = 0;
};
