#pragma once

#include <optional>

// The period of a swing about a centre, timed at its upward crossings of the centre, which a
// decaying swing passes at a steady pace (its exits from the band do not). Only swings that
// left the band on both sides count, so noise about the centre makes none.
class Oscilacion
{
public:
    Oscilacion(double centro, double semiancho) : centro_(centro), semiancho_(semiancho) {}

    void agregar(double t, double y);
    std::optional<double> periodo() const { return periodo_; }

private:
    double centro_, semiancho_;
    bool hayAnterior_ = false;
    double tAnterior_ = 0.0, yAnterior_ = 0.0;
    bool debajo_ = false, encima_ = false; // out of the band since the last upward crossing
    std::optional<double> subida_, periodo_;
};
