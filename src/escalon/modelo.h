#pragma once

#include <optional>

// The loop's step response as a second-order system with a zero, its own gain and a dead
// time: y(t) = inicial + (final - inicial) * paso(t - retardo), paso the unit step response
// of (1 + cero p) / (c2 p² + c1 p + 1). That is the closed loop of P control on a first- or
// second-order plant and of PI control on a first-order one (the zero is the integral's);
// the pure second order (cero 0) and first order (c2 0) are special cases. In c1, c2 first
// order is an ordinary point, so a fit passes from under- to over-damped loops and to first
// order without a wall.
struct Modelo
{
    double inicial = 0.0, final = 0.0; // counts
    double c1 = 1.0, c2 = 0.0;         // s, s²
    double cero = 0.0;                 // s
    double retardo = 0.0;              // s

    double valor(double t) const { return inicial + (final - inicial) * paso(t - retardo); }
    double paso(double tau) const
    {
        double s, h;
        respuestas(tau, s, h);
        return s + cero * h;
    }
    // The step and impulse responses of the poles alone.
    double base(double tau) const;
    double impulso(double tau) const;
    void respuestas(double tau, double &base, double &impulso) const;

    bool oscila() const { return c2 > 0.0 && c1 * c1 < 4.0 * c2; }
    // Second-order figures; meaningless near first order, where primerOrden() holds.
    double zeta() const;
    double wn() const;
    // The fast pole so far from the slow one (over 30 times) that only the slow one shows.
    bool primerOrden() const;
    // The slowest decay's time constant: the envelope's under-damped, the slow pole's over.
    double constante() const;
    // Of the swing, under-damped only.
    double periodo() const;

    // The unit response's figures, times from the step (dead time included), worked out on
    // the response itself so they hold with the zero as without it.
    struct Forma
    {
        std::optional<double> t10, t90; // first passing 10 % and 90 %
        double sobrepaso = 0.0;          // furthest past 1, as a fraction
        double tiempoPico = 0.0;         // when, where sobrepaso > 0
    };
    Forma forma() const;
    // When the unit response first reaches `nivel`, from the step.
    std::optional<double> alcanza(double nivel) const;
    // The last leaving of 1 ± `banda` (a fraction); infinity where it never settles.
    double establecimiento(double banda) const;
};
