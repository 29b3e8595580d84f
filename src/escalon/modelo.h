#pragma once

#include <optional>

// The loop's step response as a second-order system with its own gain and a dead time:
// y(t) = inicial + (final - inicial) * paso(t - retardo), paso the unit step response of
// 1 / (c2 p² + c1 p + 1). In c1, c2 first order is an ordinary point (c2 = 0, τ = c1), so a
// fit passes from under- to over-damped loops and to first order without a wall.
struct Modelo
{
    double inicial = 0.0, final = 0.0; // counts
    double c1 = 1.0, c2 = 0.0;         // s, s²
    double retardo = 0.0;              // s

    double valor(double t) const { return inicial + (final - inicial) * paso(t - retardo); }
    double paso(double tau) const;

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

    // Times from the step. Where the unit response reaches `nivel` (0 to 1) the first time.
    std::optional<double> alcanza(double nivel) const;
    // The first peak past the final value, under-damped only; its size as a fraction of the
    // response.
    std::optional<double> tiempoPico() const;
    double sobrepaso() const;
    // The last entry into final ± `banda` (a fraction of the response).
    double establecimiento(double banda) const;
};
