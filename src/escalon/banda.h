#pragma once

#include <optional>

// Where a response ends: its final value, the mean of the last stretch that is flat, and the
// band around it that settling is timed against.

struct TramoPlano
{
    double valor; // the stretch's mean
    int desde;    // its first point
};

// The longest of the last half and the last quarter of the points whose straight-line fit
// moves less than the noise allows; shorter tails are not tried, as a swing's turning point
// looks flat over a short stretch. `ruido`: the noise of one point, in counts.
std::optional<TramoPlano> tramoPlano(const double *t, const double *y, int n, double ruido);

// The last entry into centre ± half-width, where the line from the outside point meets the
// band's edge: a value that enters during the overshoot and leaves again has not settled.
class Banda
{
public:
    Banda(double centro, double semiancho) : centro_(centro), semiancho_(semiancho) {}

    void agregar(double t, double y);
    bool dentro() const { return dentro_; }
    double entrada() const { return entrada_; }

private:
    double centro_, semiancho_;
    bool hayAnterior_ = false, dentro_ = false;
    double tAnterior_ = 0.0, yAnterior_ = 0.0;
    double entrada_ = 0.0;
};
