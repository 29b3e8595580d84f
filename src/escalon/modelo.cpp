#include "modelo.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace {

// Where a function that is above zero at `lo` and not above at `hi` crosses it.
template<class F>
double biseccion(double lo, double hi, F &&f)
{
    for (int i = 0; i < 64 && hi - lo > 1e-12 * hi; ++i) {
        const double medio = (lo + hi) / 2;
        (f(medio) > 0 ? lo : hi) = medio;
    }
    return (lo + hi) / 2;
}

} // namespace

double Modelo::paso(double tau) const
{
    if (tau <= 0.0)
        return 0.0;
    if (c2 <= 1e-12 * c1 * c1)
        return -std::expm1(-tau / c1);
    // Poles -a ± sqrt(q): a pair that swings for q > 0, two real ones for q < 0.
    const double a = c1 / (2.0 * c2), q = 1.0 / c2 - a * a;
    const double b = std::sqrt(std::abs(q)), x = b * tau;
    if (q >= 0.0) {
        const double s = x > 1e-8 ? std::sin(x) / b : tau;
        return 1.0 - std::exp(-a * tau) * (std::cos(x) + a * s);
    }
    if (x < 0.5) { // near critical damping the split form below would cancel
        const double s = x > 1e-8 ? std::sinh(x) / b : tau;
        return 1.0 - std::exp(-a * tau) * (std::cosh(x) + a * s);
    }
    // Each real pole on its own, the slow one a - b = (1 / c2) / (a + b) without cancelling,
    // so a pole far out (near first order) neither overflows nor loses the slow one.
    const double lento = 1.0 / (c2 * (a + b)), rapido = a + b;
    return 1.0 - 0.5 * ((1.0 + a / b) * std::exp(-lento * tau)
                        + (1.0 - a / b) * std::exp(-rapido * tau));
}

double Modelo::zeta() const
{
    return c2 > 0.0 ? c1 / (2.0 * std::sqrt(c2)) : std::numeric_limits<double>::infinity();
}

double Modelo::wn() const
{
    return c2 > 0.0 ? 1.0 / std::sqrt(c2) : std::numeric_limits<double>::infinity();
}

bool Modelo::primerOrden() const
{
    // The poles' ratio is (zeta + sqrt(zeta² - 1))², over 30 from zeta 2.83 on.
    return zeta() > 2.83;
}

double Modelo::constante() const
{
    if (c2 <= 1e-12 * c1 * c1)
        return c1;
    const double a = c1 / (2.0 * c2), q = 1.0 / c2 - a * a;
    return q >= 0.0 ? 1.0 / a : c2 * (a + std::sqrt(-q));
}

double Modelo::periodo() const
{
    return oscila() ? 2.0 * std::numbers::pi * std::sqrt(c2 / (1.0 - c1 * c1 / (4.0 * c2)))
                    : std::numeric_limits<double>::infinity();
}

std::optional<double> Modelo::alcanza(double nivel) const
{
    if (nivel <= 0.0)
        return retardo;
    double hi = 0.0;
    if (oscila()) { // it rises till its first peak, past 1
        hi = periodo() / 2.0;
        if (nivel > 1.0 + sobrepaso())
            return std::nullopt;
    } else {
        if (nivel >= 1.0)
            return std::nullopt;
        for (hi = constante(); paso(hi) < nivel; hi *= 2.0)
            if (!std::isfinite(hi))
                return std::nullopt;
    }
    return retardo + biseccion(0.0, hi, [&](double tau) { return nivel - paso(tau); });
}

std::optional<double> Modelo::tiempoPico() const
{
    if (!oscila())
        return std::nullopt;
    return retardo + periodo() / 2.0;
}

double Modelo::sobrepaso() const
{
    if (!oscila())
        return 0.0;
    return std::exp(-c1 / (2.0 * c2) * periodo() / 2.0);
}

double Modelo::establecimiento(double banda) const
{
    if (banda >= 1.0)
        return retardo;
    if (!oscila())
        return alcanza(1.0 - banda).value_or(std::numeric_limits<double>::infinity());
    // The swing's extremes come every half period, each exp(-a half) the size of the one
    // before; the last one out of the band is left on the way to the next.
    const double medio = periodo() / 2.0, caida = c1 / (2.0 * c2) * medio;
    if (caida <= 0.0)
        return std::numeric_limits<double>::infinity();
    const double k = std::max(0.0, std::ceil(std::log(1.0 / banda) / caida) - 1.0);
    if (k > 1e6)
        return std::numeric_limits<double>::infinity();
    return retardo + biseccion(k * medio, (k + 1.0) * medio, [&](double tau) {
               return std::abs(paso(tau) - 1.0) - banda;
           });
}
