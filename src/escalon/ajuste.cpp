#include "ajuste.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include <Eigen/Dense>
#include <unsupported/Eigen/NonLinearOptimization>
#include <unsupported/Eigen/NumericalDiff>

namespace {

// The starts are tried on the points merged down to at most this many, the best one then
// carried on over all of them: the fit of a full record stays within a couple of ms.
constexpr int puntosTanteo = 64;

// The shape as Levenberg-Marquardt moves it, free of bounds: ln c1; rho, with c2 = (rho c1)²
// (0 is first order, 1/2 critical damping); the square root of the dead time.
Modelo forma(const Eigen::VectorXd &x)
{
    Modelo m;
    m.c1 = std::exp(std::clamp(x[0], -12.0, 14.0));
    const double rho = std::clamp(x[1], -1e3, 1e3);
    m.c2 = (rho * m.c1) * (rho * m.c1);
    m.retardo = x[2] * x[2];
    return m;
}

Eigen::VectorXd parametros(const Modelo &m)
{
    return Eigen::Vector3d(std::log(m.c1), std::sqrt(m.c2) / m.c1, std::sqrt(m.retardo));
}

struct Residuos
{
    using Scalar = double;
    enum { InputsAtCompileTime = Eigen::Dynamic, ValuesAtCompileTime = Eigen::Dynamic };
    using InputType = Eigen::VectorXd;
    using ValueType = Eigen::VectorXd;
    using JacobianType = Eigen::MatrixXd;

    Residuos() = default;
    Residuos(const Puntos &puntos, bool conCero, bool conRetardo = true)
        : p(&puntos), cero(conCero), retardo(conRetardo), s(size_t(puntos.n)), h(size_t(puntos.n)),
          raiz(size_t(puntos.n))
    {
        for (int i = 0; i < p->n; ++i)
            raiz[size_t(i)] = 1.0 / std::sqrt(p->varianza[i]);
    }
    int inputs() const { return 3; }
    int values() const { return p->n; }

    // The levels (and the zero) that fit `m`'s shape best: weighted least squares on 1, the
    // poles' step response and, with the zero, their impulse response.
    void niveles(Modelo &m) const
    {
        Eigen::Matrix3d a = Eigen::Matrix3d::Zero();
        Eigen::Vector3d r = Eigen::Vector3d::Zero();
        for (int i = 0; i < p->n; ++i) {
            const double w = raiz[size_t(i)] * raiz[size_t(i)], tau = p->t[i] - m.retardo;
            m.respuestas(tau, s[size_t(i)], h[size_t(i)]);
            if (!cero)
                h[size_t(i)] = 0.0;
            const Eigen::Vector3d f(1.0, s[size_t(i)], h[size_t(i)]);
            a.noalias() += w * f * f.transpose();
            r += w * p->y[i] * f;
        }
        const int k = cero ? 3 : 2;
        Eigen::Vector3d x = Eigen::Vector3d::Zero();
        const auto ldlt = a.topLeftCorner(k, k).ldlt();
        if (ldlt.info() == Eigen::Success && ldlt.rcond() > 1e-12)
            x.head(k) = ldlt.solve(r.head(k));
        else // no response among the points: their mean, far from fitting a step
            x[0] = r[0] / a(0, 0);
        m.inicial = x[0];
        m.final = x[0] + x[1];
        m.cero = x[1] != 0.0 ? x[2] / x[1] : 0.0;
        coeficientes = x;
    }

    int operator()(const Eigen::VectorXd &x, Eigen::VectorXd &f) const
    {
        Modelo m = forma(x);
        if (!retardo)
            m.retardo = 0.0;
        niveles(m);
        for (int i = 0; i < p->n; ++i)
            f[i] = (p->y[i] - coeficientes[0] - coeficientes[1] * s[size_t(i)]
                    - coeficientes[2] * h[size_t(i)]) * raiz[size_t(i)];
        return 0;
    }

    const Puntos *p = nullptr;
    bool cero = false;
    bool retardo = true; // else none past the earliest start
    mutable std::vector<double> s, h;
    mutable Eigen::Vector3d coeficientes = Eigen::Vector3d::Zero();
    std::vector<double> raiz; // 1 / standard deviation of each point
};

// From `x` to the least squares' minimum, within `evaluaciones` of the residuals.
double minimizar(const Puntos &p, bool cero, Eigen::VectorXd &x, int evaluaciones, bool retardo = true)
{
    Eigen::NumericalDiff<Residuos> funcion{Residuos(p, cero, retardo)};
    Eigen::LevenbergMarquardt<Eigen::NumericalDiff<Residuos>> lm(funcion);
    lm.parameters.maxfev = evaluaciones;
    lm.parameters.xtol = 1e-6;
    lm.parameters.ftol = 1e-8;
    lm.minimize(x);
    const double chi2 = lm.fvec.squaredNorm();
    return std::isfinite(chi2) ? chi2 : INFINITY;
}

// Shapes to start from: under-damped, well damped, critical and first order, each scaled and
// delayed so that it passes 10 % and 50 % of the way when the points do.
std::vector<Eigen::VectorXd> inicios(const Puntos &p)
{
    const int n = p.n, cola = std::max(3, n / 10);
    double y0 = 0, yf = 0;
    for (int i = 0; i < 3; ++i)
        y0 += p.y[i] / 3;
    for (int i = n - cola; i < n; ++i)
        yf += p.y[i] / cola;
    std::optional<double> t10, t50, t90;
    for (int i = 1; i + 1 < n && !t90; ++i) {
        const double v = ((p.y[i - 1] + p.y[i] + p.y[i + 1]) / 3 - y0) / (yf - y0);
        if (!t10 && v >= 0.1)
            t10 = p.t[i];
        if (!t50 && v >= 0.5)
            t50 = p.t[i];
        if (v >= 0.9)
            t90 = p.t[i];
    }
    const double fin = p.t[n - 1];
    double a50 = t50.value_or(fin / 2), a10 = std::min(t10.value_or(a50 / 5), a50);
    std::vector<Eigen::VectorXd> x;
    const auto escalado = [&](Modelo m, double u10, double u50) {
        const double escala = a50 > a10 ? (a50 - a10) / (u50 - u10) : std::max(a50, 1e-3) / u50;
        const double retardo = std::max(a10 - u10 * escala, 1e-3 * escala);
        m.c1 *= escala;
        m.c2 *= escala * escala;
        m.retardo = retardo;
        x.push_back(parametros(m));
    };
    // The unit shapes' passing of 10 % and 50 %, worked out once.
    static const std::array<std::array<double, 3>, 4> formas = [] {
        std::array<std::array<double, 3>, 4> a{};
        int i = 0;
        for (const double zeta : {0.05, 0.25, 0.6, 1.0}) {
            const Modelo m{0, 1, 2 * zeta, 1, 0, 0};
            a[size_t(i++)] = {2 * zeta, *m.alcanza(0.1), *m.alcanza(0.5)};
        }
        return a;
    }();
    for (const auto &[c1, u10, u50] : formas)
        escalado(Modelo{0, 1, c1, 1, 0, 0}, u10, u50);
    // First order, a hair off it: at c2 = 0 the fit's derivative in c2 / c1² is nought.
    escalado(Modelo{0, 1, 1, 1e-4, 0, 0}, std::log(1 / 0.9), std::log(2.0));
    // A loop with integral action rises fast and creeps to its end: well-damped shapes timed
    // at 10 % and 90 % too, the zero taking the fast start.
    if (t90 && *t90 > a50 + (a50 - a10)) {
        a50 = *t90;
        escalado(Modelo{0, 1, formas[3][0], 1, 0, 0}, formas[3][1], *Modelo{0, 1, formas[3][0], 1, 0, 0}.alcanza(0.9));
        escalado(Modelo{0, 1, 1, 1e-4, 0, 0}, std::log(1 / 0.9), std::log(10.0));
    }
    // A swing's frequency is where least squares has many minima: started from the one the
    // points show, timed at their upward crossings of the last half's mean.
    double media = 0;
    for (int i = n / 2; i < n; ++i)
        media += p.y[i] / (n - n / 2);
    const double histeresis = 0.1 * std::abs(yf - y0);
    std::vector<double> subidas;
    bool debajo = false;
    for (int i = 0; i < n; ++i) {
        if (p.y[i] < media - histeresis)
            debajo = true;
        else if (debajo && p.y[i] > media + histeresis) {
            subidas.push_back(p.t[i]);
            debajo = false;
        }
    }
    if (subidas.size() >= 2) {
        const double wd = 2 * std::numbers::pi * double(subidas.size() - 1) / (subidas.back() - subidas.front());
        for (const double zeta : {0.02, 0.1})
            x.push_back(parametros(Modelo{0, 1, 2 * zeta / wd, 1 / (wd * wd), 0, 1e-3 / wd}));
    }
    return x;
}

// The model moved by `d` in one of its parameters: the levels, the time scale (ln), the
// damping (c2 / c1²), the dead time and the zero (both in c1).
Modelo movido(Modelo m, int k, double d)
{
    const double c1 = m.c1;
    switch (k) {
    case 0: m.inicial += d; break;
    case 1: m.final += d; break;
    case 2:
        m.c1 *= std::exp(d);
        m.c2 *= std::exp(2 * d);
        m.cero *= std::exp(d);
        m.retardo *= std::exp(d);
        break;
    case 3: m.c2 = std::max(0.0, m.c2 + d * c1 * c1); break;
    case 4: m.retardo = std::max(0.0, m.retardo + d * c1); break;
    default: m.cero += d * c1; break;
    }
    return m;
}

// The parameters' covariance from the fit's Jacobian, scaled up by the residual where it is
// over the noise; the final value's deviation, and the model moved 2.5 deviations both ways
// along each of the covariance's axes.
// Returns a model that fits better than the fit, where one turned up on the way: the
// minimum was not reached yet.
std::optional<Modelo> dudas(const Residuos &r, double escala, Ajuste &a)
{
    const Puntos &p = *r.p;
    const Modelo &m = a.modelo;
    const int libres = r.cero ? 6 : 5;
    Eigen::MatrixXd j(p.n, libres);
    for (int k = 0; k < libres; ++k) {
        const double h = k < 2 ? 1.0 : 1e-5;
        const Modelo otro = movido(m, k, h);
        for (int i = 0; i < p.n; ++i)
            j(i, k) = (otro.valor(p.t[i]) - m.valor(p.t[i])) / h * r.raiz[size_t(i)];
    }
    const Eigen::MatrixXd cov = Eigen::MatrixXd((j.transpose() * j).completeOrthogonalDecomposition().pseudoInverse())
                                * std::max(1.0, escala);
    a.dFinal = std::isfinite(cov(1, 1)) && cov(1, 1) >= 0 ? std::sqrt(cov(1, 1)) : INFINITY;
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> ejes(cov);
    const auto chi2 = [&](const Modelo &o) {
        double suma = 0;
        for (int i = 0; i < p.n; ++i)
            suma += std::pow((p.y[i] - o.valor(p.t[i])) * r.raiz[size_t(i)], 2);
        return suma;
    };
    // Where the fit is far from linear (a pole and the zero all but cancelling, whose pair
    // may move together a long way), the step along an axis is cut back to where the points
    // allow it: the chi-square 2.5² over its minimum.
    const double base = chi2(m), meta = 6.25 * std::max(1.0, escala);
    a.dudas.clear();
    for (int e = 0; e < libres; ++e) {
        const double largo = 2.5 * std::sqrt(std::max(0.0, ejes.eigenvalues()[e]));
        if (!std::isfinite(largo))
            continue;
        for (const double signo : {-1.0, 1.0}) {
            const auto en = [&](double l) {
                Modelo otro = m;
                for (int k = 0; k < libres; ++k)
                    otro = movido(otro, k, signo * l * ejes.eigenvectors()(k, e));
                return otro;
            };
            double lo = 0, hi = largo;
            if (!(chi2(en(hi)) - base <= 2 * meta))
                for (int k = 0; k < 60 && hi - lo > 1e-3 * hi; ++k)
                    (!(chi2(en((lo + hi) / 2)) - base <= meta) ? hi : lo) = (lo + hi) / 2;
            a.dudas.push_back(en(hi));
        }
    }
    std::optional<Modelo> mejor;
    double menor = base - 1.0;
    for (const Modelo &o : a.dudas)
        if (const double c = chi2(o); c < menor) {
            menor = c;
            mejor = o;
        }
    return mejor;
}

} // namespace

std::optional<Ajuste> ajustar(const Puntos &puntos)
{
    if (puntos.n < 8)
        return std::nullopt;
    // Fitted on times moved on by the earliest start allowed, so the dead time found is never
    // below it; moved back at the end.
    const double adelanto = -std::min(0.0, puntos.retardoMinimo);
    std::vector<double> movidos(puntos.t, puntos.t + puntos.n);
    for (double &t : movidos)
        t += adelanto;
    const Puntos p{movidos.data(), puntos.y, puntos.varianza, puntos.n};
    // The starts, on neighbours merged as their weighted means.
    std::vector<double> t, y, v;
    Puntos tanteo = p;
    if (p.n > puntosTanteo) {
        // Each group spans at most a share of the time since the first point, the share the
        // least that leaves so few groups: the start, where a fast rise or a first swing is,
        // stays as fine as the record holds it, while the long tail merges.
        // Nor over half as much again as an even share: a long stretch merged leaves its least
        // squares off all the points', a longer way to their minimum.
        const int mayor = 3 * ((p.n + puntosTanteo - 1) / puntosTanteo) / 2;
        const auto grupos = [&](double parte, bool guardar) {
            int cuantos = 0;
            for (int i = 0; i < p.n;) {
                int k = i;
                double w = 0, st = 0, sy = 0;
                do {
                    w += 1 / p.varianza[k];
                    st += p.t[k] / p.varianza[k];
                    sy += p.y[k] / p.varianza[k];
                    ++k;
                } while (k < p.n && k - i < mayor && p.t[k] - p.t[i] <= parte * (p.t[i] - p.t[0]));
                ++cuantos;
                if (guardar) {
                    t.push_back(st / w);
                    y.push_back(sy / w);
                    v.push_back(1 / w);
                }
                i = k;
            }
            return cuantos;
        };
        double lo = 0, hi = 1;
        while (grupos(hi, false) > puntosTanteo)
            hi *= 2;
        for (int k = 0; k < 30; ++k)
            (grupos((lo + hi) / 2, false) > puntosTanteo ? lo : hi) = (lo + hi) / 2;
        grupos(hi, true);
        tanteo = {t.data(), y.data(), v.data(), int(t.size())};
    }
    // Every start a few steps on, the two best carried to the minimum, the best of them then
    // over all the points: with the zero, the model the others are special cases of.
    struct Mejor
    {
        Eigen::VectorXd x;
        double chi2 = INFINITY;
    };
    std::vector<Mejor> tanteos;
    for (Eigen::VectorXd x : inicios(p)) {
        const double chi2 = minimizar(tanteo, true, x, 12);
        tanteos.push_back({x, chi2});
    }
    std::sort(tanteos.begin(), tanteos.end(), [](const Mejor &a, const Mejor &b) { return a.chi2 < b.chi2; });
    // The two best to the minimum; all of them where that minimum is far over the noise: a
    // start that looked worse after a few steps may still lead to the loop's shape.
    const auto porLlevar = [&](size_t k) {
        const double peor = std::min_element(tanteos.begin(), tanteos.begin() + std::ptrdiff_t(k),
                                             [](const Mejor &a, const Mejor &b) { return a.chi2 < b.chi2; })->chi2;
        return k < 2 || peor > 4.0 * std::max(1, tanteo.n - 6);
    };
    size_t llevados = 0;
    for (; llevados < tanteos.size() && porLlevar(llevados); ++llevados)
        tanteos[llevados].chi2 = minimizar(tanteo, true, tanteos[llevados].x, 60);
    tanteos.resize(llevados);
    std::array<Mejor, 2> mejores; // without the zero, with it
    mejores[1] = *std::min_element(tanteos.begin(), tanteos.end(),
                                   [](const Mejor &a, const Mejor &b) { return a.chi2 < b.chi2; });
    // Without the zero, from the shape found with it, carried as far: left short of its minimum,
    // the zero would win by default.
    mejores[0] = mejores[1];
    mejores[0].chi2 = minimizar(tanteo, false, mejores[0].x, 100);
    // The zero where it takes off far more than the noise would by chance; the merged points
    // weigh as all of theirs do, so they tell.
    const int n = tanteo.n;
    // Nor where its levels are nowhere the points reach: a pole faster than the samples and
    // the zero together fit the first points' noise with a start of any size, unseen. Twice
    // their span: sampled slowly with no rest before, the first point may be far along already.
    const auto [bajo, alto] = std::minmax_element(p.y, p.y + p.n);
    const auto alcanzable = [&, bajo = *bajo, alto = *alto](const Eigen::VectorXd &x, bool conCero) {
        Modelo m = forma(x);
        Residuos(tanteo, conCero).niveles(m);
        return std::abs(m.final - m.inicial) <= 2.0 * (alto - bajo);
    };
    const auto mejora = [](const Mejor &con, const Mejor &sin, int puntos) {
        return con.chi2 < sin.chi2 - 4.0 * std::max(1.0, con.chi2 / (puntos - 6));
    };
    bool cero = mejora(mejores[1], mejores[0], n) && alcanzable(mejores[1].x, true);
    // Likewise a dead time past the earliest start: without one where the points allow, the
    // noise moves the other figures least.
    bool retardo = mejores[cero].x[2] != 0.0;
    if (retardo) {
        Mejor sin = mejores[cero];
        sin.x[2] = 0.0;
        sin.chi2 = minimizar(tanteo, cero, sin.x, 30, false);
        if (std::isfinite(sin.chi2) && !mejora(mejores[cero], sin, n) && alcanzable(sin.x, cero)) {
            mejores[cero] = sin;
            mejores[0].x[2] = 0.0;
            retardo = false;
        }
    }
    if (std::isfinite(mejores[cero].chi2) && tanteo.n != p.n) {
        const auto refinar = [&](bool conCero) {
            Eigen::VectorXd x = mejores[conCero].x;
            if (const double c = minimizar(p, conCero, x, 16, retardo); alcanzable(x, conCero))
                mejores[conCero] = {x, c};
        };
        refinar(cero);
        // Merged means over a curved stretch lie off the curve, which a zero takes up: kept
        // only where it still tells on all the points.
        if (cero) {
            refinar(false);
            cero = mejora(mejores[1], mejores[0], p.n);
        }
    }
    Mejor &mejor = mejores[cero];
    if (!std::isfinite(mejor.chi2))
        return std::nullopt;

    const Residuos r(p, cero), merged(tanteo, cero);
    Ajuste a;
    a.libres = p.n - (cero ? 6 : 5);
    // On the merged points, which weigh as much: the doubt for a fraction of the work; where
    // it turns up a better fit, from there once more.
    for (int vuelta = 0; vuelta < 2; ++vuelta) {
        a.modelo = forma(mejor.x);
        r.niveles(a.modelo);
        Eigen::VectorXd f(p.n);
        r(mejor.x, f);
        a.chi2 = f.squaredNorm();
        if (!std::isfinite(a.chi2) || !std::isfinite(a.modelo.final))
            return std::nullopt;
        const std::optional<Modelo> otro = dudas(merged, a.chi2 / a.libres, a);
        if (!otro || vuelta == 1)
            break;
        // Merged unevenly, the points' least squares lie a little off all the points': only
        // a model better on all of them is carried on.
        Eigen::VectorXd x = parametros(*otro), g(p.n);
        r(x, g);
        if (!(g.squaredNorm() < a.chi2 - 1.0))
            break;
        if (!retardo)
            x[2] = 0.0;
        minimizar(tanteo, cero, x, 30, retardo);
        if (tanteo.n != p.n)
            minimizar(p, cero, x, 16, retardo);
        r(x, g);
        if (!(g.squaredNorm() < a.chi2) || !alcanzable(x, cero))
            break;
        mejor.x = x;
    }
    a.modelo.retardo -= adelanto;
    for (Modelo &o : a.dudas)
        o.retardo -= adelanto;
    return a;
}

std::optional<double> ruidoRobusto(const double *y, int n)
{
    if (n < 16)
        return std::nullopt;
    std::vector<double> d(static_cast<size_t>(n - 1));
    for (int i = 1; i < n; ++i)
        d[size_t(i - 1)] = std::abs(y[i] - y[i - 1]);
    std::vector<double> orden = d;
    std::nth_element(orden.begin(), orden.begin() + orden.size() / 2, orden.end());
    // Whole counts make a median of 0 or 1 from noise of under a count: a count at least.
    const double limite = 5.0 * std::max(orden[orden.size() / 2], 1.0);
    double suma = 0, suma2 = 0;
    int k = 0;
    for (int i = 1; i < n; ++i)
        if (d[size_t(i - 1)] <= limite) {
            const double di = y[i] - y[i - 1];
            suma += di;
            suma2 += di * di;
            ++k;
        }
    const double media = suma / k;
    return std::sqrt(std::max(0.0, suma2 / k - media * media) / 2.0);
}
