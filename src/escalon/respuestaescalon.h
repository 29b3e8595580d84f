#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/reloj.h"
#include "escalon/registroescalon.h"

// The response to each change of the set point that samples carry, measured on the samples
// that follow with each sample's own time. Fed every sample in the receive path: constant
// work and no allocation per sample; the figures are worked out when asked for, over the
// step's bounded record.
class RespuestaEscalon
{
public:
    // A figure not yet defined is nullopt. Times in seconds from the step, the first sample
    // that carries the new set point; values in counts.
    struct Figuras
    {
        bool hay = false;     // a step has been seen
        bool pequeno = false; // too small to measure against the noise and whole counts
        int16_t desde = 0, hasta = 0; // the set points
        Reloj::Instante inicio{};
        double espaciado = 0.0; // mean time between samples
        double inicial = 0.0;   // the value when the step came
        double nivel10 = 0.0, nivel90 = 0.0;
        std::optional<double> valorFinal;      // mean of the flat stretch it ends in
        std::optional<double> banda;           // half-width of the settling band
        std::optional<double> subida;          // 10 % to 90 % of the way to the final value
        std::optional<double> pico;            // furthest value in the step's direction
        std::optional<double> sobreimpulso;    // % of the response past the final value
        std::optional<double> tiempoPico;
        std::optional<double> establecimiento; // last entry into the band
        std::optional<double> error;           // set point - final value
        std::optional<double> errorPorciento;  // of the set-point step
        std::optional<double> periodo;         // while it keeps swinging past the band
    };

    static constexpr int escalonesGuardados = 10;
    // Samples kept from before a step: its noise and the value it started from.
    static constexpr int muestrasAntes = 256;

    // nullopt: the set point is not known yet. The first one known is where the loop was,
    // not a step.
    void agregar(Reloj::Instante instante, int16_t dato, std::optional<int16_t> setPoint);
    // At every opening of the port: the next set point reported is not a step either, and
    // the current step keeps the samples it had: those after the gap are not its response.
    void olvidarSetPoint()
    {
        setPoint_.reset();
        grabando_ = false;
    }

    Figuras actual() const { return medir(); }
    // The last steps, newest first, the current one included.
    int cuantos() const { return hayEscalon_ ? 1 + historiaN_ : 0; }
    Figuras escalon(int i) const;
    // The current step's samples, for its picture.
    const RegistroEscalon &registro() const { return registro_; }

private:
    void empezar(Reloj::Instante instante, int16_t desde, int16_t hasta);
    Figuras medir() const;
    // The noise of one sample: the spread of the differences between neighbours, which a
    // steady slope does not widen.
    static std::optional<double> ruido(const double *y, int n);

    std::optional<int16_t> setPoint_;
    bool hayEscalon_ = false;
    bool grabando_ = false; // the current step takes the samples that come
    Reloj::Instante inicio_{};
    int16_t desde_ = 0, hasta_ = 0;
    RegistroEscalon registro_;

    std::array<int16_t, muestrasAntes> ultimas_{}; // ring of the latest samples
    int ultimasSiguiente_ = 0, ultimasN_ = 0;
    std::array<double, muestrasAntes> antes_{}; // those before the current step, oldest first
    int antesN_ = 0;
    std::optional<double> ruidoAntes_;

    mutable std::array<double, RegistroEscalon::capacidad> suave_{};

    std::array<Figuras, escalonesGuardados - 1> historia_{}; // steps before the current one
    int historiaSiguiente_ = 0, historiaN_ = 0;
};
