#pragma once

#include <chrono>
#include <cstdint>

// Two clocks, read once per sample. The time between samples comes from a steady clock, so
// wall-clock steps (an NTP correction, the end of summer time, midnight) never reach it; the
// wall clock serves the log's date and the first sample's seconds since midnight.
class Reloj
{
public:
    using Instante = std::chrono::steady_clock::time_point;
    using Pared = std::chrono::system_clock::time_point;

    // Where the readings come from: the system's clocks, or a test's own.
    class Fuente
    {
    public:
        virtual ~Fuente() = default;
        virtual Instante estable() = 0;
        virtual Pared pared() = 0;
    };

    Reloj();

    // Each read only where it is needed: the steady clock for every sample, the wall clock
    // once per event that logs.
    Instante instante() { return fuente_->estable(); }
    Pared pared() { return fuente_->pared(); }

    // nullptr restores the system's clocks.
    void setFuente(Fuente *fuente);

    // Seconds from one reading to a later one, single precision like the read-out.
    static float segundosEntre(Instante desde, Instante hasta)
    {
        return static_cast<float>(std::chrono::duration<double>(hasta - desde).count());
    }

    // Local seconds since midnight, fraction included (time zone and summer time applied).
    static double segundosMedianoche(Pared momento);

private:
    Fuente *fuente_;
};
