#pragma once

#include <array>

// The samples of one step from its first on, times in seconds from it, in at most
// `capacidad` points. A point gathers the samples of a stretch no longer than 1/alfa of the
// time before it began, so the step's start and rise stay at full resolution whatever its
// length, and a long step keeps its whole course, coarser the later it is. When full, alfa
// halves and neighbours merge: bounded work, coming more rarely the longer the step.
class RegistroEscalon
{
public:
    static constexpr int capacidad = 2048;

    void empezar();
    void agregar(double t, double y);

    int puntos() const { return n_; }
    // Each point's mean time and value, and how many samples it holds.
    const double *tiempos() const { return t_.data(); }
    const double *valores() const { return y_.data(); }
    const double *cuentas() const { return cuenta_.data(); }
    // How many of each point's samples read 0 or 254, where a value beyond would read too.
    const double *enLimite() const { return limite_.data(); }
    long long muestras() const { return muestras_; }
    double ultimo() const { return tUltimo_; }
    // The mean time between samples; 0 before the second.
    double espaciado() const { return muestras_ > 1 ? tUltimo_ / double(muestras_ - 1) : 0.0; }

private:
    void compactar();

    std::array<double, capacidad> t_{}, y_{}, cuenta_{}, limite_{}, desde_{}, hasta_{};
    int n_ = 0;
    double alfa_ = capacidad / 2;
    double abierto_ = 0.0; // the last sample time the open point still takes
    long long muestras_ = 0;
    double tUltimo_ = 0.0;
};
