#include "modelo.h"

#include <algorithm>
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

// The grid the figures are looked for on, from the step to `horizonte` (s).
struct Rejilla
{
    double horizonte;
    int n;
    double t(int i) const { return horizonte * i / n; }
};

Rejilla rejilla(const Modelo &m)
{
    // Forty slowest decays leave nothing of any swing; at least 16 points a period.
    const double h = 40.0 * m.constante();
    const int n = std::clamp(int(m.oscila() ? 16.0 * h / m.periodo() : 0.0), 1024, 40000);
    return {h, n};
}

} // namespace

double Modelo::base(double tau) const
{
    double s, h;
    respuestas(tau, s, h);
    return s;
}

double Modelo::impulso(double tau) const
{
    double s, h;
    respuestas(tau, s, h);
    return h;
}

void Modelo::respuestas(double tau, double &s, double &h) const
{
    s = h = 0.0;
    if (tau <= 0.0)
        return;
    if (c2 <= 1e-12 * c1 * c1) {
        const double e = std::exp(-tau / c1);
        s = 1.0 - e;
        h = e / c1;
        return;
    }
    // Poles -a ± sqrt(q): a pair that swings for q > 0, two real ones for q < 0.
    const double a = c1 / (2.0 * c2), q = 1.0 / c2 - a * a;
    const double b = std::sqrt(std::abs(q)), x = b * tau;
    if (q >= 0.0 || x < 0.5) { // near critical damping the split form below would cancel
        const double e = std::exp(-a * tau);
        const double seno = q >= 0.0 ? (x > 1e-8 ? std::sin(x) / b : tau) : (x > 1e-8 ? std::sinh(x) / b : tau);
        const double coseno = q >= 0.0 ? std::cos(x) : std::cosh(x);
        s = 1.0 - e * (coseno + a * seno);
        h = e * seno / c2;
        return;
    }
    // Each real pole on its own, the slow one a - b = (1 / c2) / (a + b) without cancelling,
    // so a pole far out (near first order) neither overflows nor loses the slow one.
    const double lento = 1.0 / (c2 * (a + b)), rapido = a + b;
    const double el = std::exp(-lento * tau), er = std::exp(-rapido * tau);
    s = 1.0 - 0.5 * ((1.0 + a / b) * el + (1.0 - a / b) * er);
    h = (el - er) / (2.0 * b * c2);
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
    if (!(c1 > 0.0) || !std::isfinite(constante()))
        return std::nullopt;
    const Rejilla r = rejilla(*this);
    double antes = 0.0;
    for (int i = 1; i <= r.n; ++i) {
        const double v = paso(r.t(i));
        if (v >= nivel)
            return retardo + (antes >= nivel ? r.t(i - 1)
                              : biseccion(r.t(i - 1), r.t(i),
                                          [&](double tau) { return nivel - paso(tau); }));
        antes = v;
    }
    return std::nullopt;
}

Modelo::Forma Modelo::forma() const
{
    Forma f;
    if (!(c1 > 0.0) || !std::isfinite(constante()))
        return f;
    const Rejilla r = rejilla(*this);
    f.t10 = alcanza(0.1);
    f.t90 = alcanza(0.9);
    int mayor = 0;
    double vMayor = -INFINITY;
    for (int i = 1; i <= r.n; ++i)
        if (const double v = paso(r.t(i)); v > vMayor) {
            vMayor = v;
            mayor = i;
        }
    if (vMayor <= 1.0)
        return f;
    // The top between its neighbours, by golden section.
    double lo = r.t(std::max(0, mayor - 1)), hi = r.t(std::min(r.n, mayor + 1));
    for (int k = 0; k < 60 && hi - lo > 1e-12 * hi; ++k) {
        const double a = hi - (hi - lo) * 0.618034, b = lo + (hi - lo) * 0.618034;
        (paso(a) < paso(b) ? lo : hi) = paso(a) < paso(b) ? a : b;
    }
    const double tope = (lo + hi) / 2;
    f.sobrepaso = std::max(paso(tope), vMayor) - 1.0;
    f.tiempoPico = retardo + tope;
    return f;
}

double Modelo::establecimiento(double banda) const
{
    // A band wider than the whole response holds it from the start: it never leaves.
    if (banda > 1.0)
        return 0.0;
    if (banda == 1.0)
        return retardo;
    if (!(c1 > 0.0) || !std::isfinite(constante()))
        return std::numeric_limits<double>::infinity();
    const Rejilla r = rejilla(*this);
    const auto fuera = [&](double tau) { return std::abs(paso(tau) - 1.0) - banda; };
    if (fuera(r.horizonte) > 0)
        return std::numeric_limits<double>::infinity();
    for (int i = r.n - 1; i >= 0; --i)
        if (fuera(r.t(i)) > 0)
            return retardo + biseccion(r.t(i), r.t(i + 1), fuera);
    return retardo;
}
