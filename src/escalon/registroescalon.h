#pragma once

#include <array>

// The samples of one step from its first on, times in seconds from it, in at most
// `capacidad` points: when full, each two neighbours become one (their means), so a long step
// keeps its whole course at a coarser pace. The merge's work is bounded and comes once per
// doubling of the step's length, never per sample.
class RegistroEscalon
{
public:
    static constexpr int capacidad = 2048;

    void empezar();
    void agregar(double t, double y);

    int puntos() const { return n_; }
    const double *tiempos() const { return t_.data(); }
    const double *valores() const { return y_.data(); }
    int muestrasPorPunto() const { return porPunto_; }
    long long muestras() const { return muestras_; }
    // The mean time between samples; 0 before the second.
    double espaciado() const { return muestras_ > 1 ? tUltimo_ / double(muestras_ - 1) : 0.0; }

private:
    std::array<double, capacidad> t_{}, y_{};
    int n_ = 0;
    int porPunto_ = 1;
    int enCurso_ = 0; // samples gathered towards the next point
    double sumaT_ = 0.0, sumaY_ = 0.0;
    long long muestras_ = 0;
    double tUltimo_ = 0.0;
};
