#pragma once

#include <array>
#include <cstdint>

// Where one run of logging ends and the next begins: a pause much longer than the samples'
// own spacing (logging switched off and on, a port change, a restart). A pause counts when
// it is over `minimoMs` and over `veces` times the spacing before it; the spacing is the
// median of the means of groups of intervals, so one long interval does not inflate it and
// a log in whole seconds still gives the spacing of a few samples a second. A pause that
// ends a session is not a spacing: the next session is judged by the same controller's.
class DetectorSesiones
{
public:
    static constexpr int64_t minimoMs = 1000;
    static constexpr int veces = 20;
    static constexpr int grupo = 8;
    static constexpr int grupos = 16;

    // The next sample's time (never before the last one); true where it starts a session.
    bool agregar(int64_t ms);
    void vaciar() { *this = DetectorSesiones(); }
    // The spacing the intervals so far give, ms; nullopt-like -1 before the first.
    double espaciado() const;

private:
    static constexpr int guardados = grupo * grupos;
    std::array<int64_t, guardados> intervalos_{}; // ring of the latest
    int siguiente_ = 0, n_ = 0;
    int64_t ultimo_ = 0;
    bool hay_ = false;
};
