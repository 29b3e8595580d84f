#include "medicion.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <Eigen/Dense>

#include "escalon/ajuste.h"
#include "escalon/banda.h"
#include "escalon/cruces.h"
#include "escalon/pico.h"
#include "escalon/registroescalon.h"

namespace {

using Figuras = FigurasEscalon;
using Nota = NotaEscalon;

// Rounding to whole counts alone spreads a value by this much.
const double cuantizacion = 1.0 / std::sqrt(12.0);

// Centred moving mean over `ancho` samples' time (`dt` apart), narrower at the ends, each
// point weighed by the samples it holds: a long record's merged points each span many
// samples, and a window counted in points would reach far along a slow tail.
void suavizar(const double *t, const double *y, const double *cuenta, int n, int ancho, double dt,
              double *s)
{
    const double antes = (ancho / 2 + 0.5) * dt, despues = (ancho - 1 - ancho / 2 + 0.5) * dt;
    double suma = 0.0, peso = 0.0;
    int lo = 0, hi = 0; // the window is [lo, hi)
    for (int i = 0; i < n; ++i) {
        while (hi < n && (hi <= i || t[hi] < t[i] + despues)) {
            suma += y[hi] * cuenta[hi];
            peso += cuenta[hi++];
        }
        while (lo < i && t[lo] <= t[i] - antes) {
            suma -= y[lo] * cuenta[lo];
            peso -= cuenta[lo++];
        }
        s[i] = suma / peso;
    }
}

// When the series last reached `nivel` before `hasta`, where it has reached it since: noise
// that touches the 10 % level before the response has started does not start its rise.
double ultimoCruce(const double *t, const double *s, int n, double nivel, double sentido, double hasta)
{
    int j = 0;
    while (j + 1 < n && t[j] < hasta)
        ++j;
    while (j > 0 && (s[j - 1] - nivel) * sentido >= 0)
        --j;
    return j > 0 ? tiempoDeCruce(t[j - 1], s[j - 1], t[j], s[j], nivel) : t[0];
}

// Whether the mean of some 1 to 16 neighbours has left `y0` by more than the noise can take
// it (five of its standard deviations, and at least a count for one sample alone).
bool movido(const double *y, const double *cuenta, int n, double y0, double sigma)
{
    for (const int k : {1, 2, 4, 8, 16}) {
        if (k > n)
            break;
        double suma = 0.0, muestras = 0.0;
        for (int i = 0; i < n; ++i) {
            suma += y[i] * cuenta[i];
            muestras += cuenta[i];
            if (i >= k) {
                suma -= y[i - k] * cuenta[i - k];
                muestras -= cuenta[i - k];
            }
            if (i + 1 >= k
                && std::abs(suma / muestras - y0)
                       > std::max(k == 1 ? 1.0 : 0.75, 5.0 * sigma / std::sqrt(muestras)))
                return true;
        }
    }
    return false;
}

// The least-squares line through points [desde, n), each weighing `peso` (null: one each):
// its slope, the sum of the weighted squares of the times about their mean, and the
// deviation of one weight's point about the line.
struct Recta
{
    double pendiente = 0.0, momento = 0.0, desvio = 0.0;
};
Recta recta(const double *t, const double *y, const double *peso, int desde, int n)
{
    double m = 0, st = 0, sy = 0;
    for (int i = desde; i < n; ++i) {
        const double w = peso ? peso[i] : 1.0;
        m += w;
        st += w * t[i];
        sy += w * y[i];
    }
    Recta r;
    double sty = 0, syy = 0;
    for (int i = desde; i < n; ++i) {
        const double w = peso ? peso[i] : 1.0;
        r.momento += w * (t[i] - st / m) * (t[i] - st / m);
        sty += w * (t[i] - st / m) * (y[i] - sy / m);
        syy += w * (y[i] - sy / m) * (y[i] - sy / m);
    }
    r.pendiente = r.momento > 0 ? sty / r.momento : 0.0;
    r.desvio = n - desde > 2 ? std::sqrt(std::max(0.0, syy - r.pendiente * sty) / (n - desde - 2)) : 0.0;
    return r;
}

// The change of the least-squares line over points [desde, n).
double cambio(const double *t, const double *y, int desde, int n)
{
    return recta(t, y, nullptr, desde, n).pendiente * (t[n - 1] - t[desde]);
}

// The last samples before the step where the loop was at rest: a line through them moves
// less than the noise allows and they spread no more than neighbours differ (a swing does).
struct Reposo
{
    double media;
    int n;
};
std::optional<Reposo> enReposo(const double *y, int n, double sigma)
{
    const int k = std::min(n, 64);
    if (k < 16)
        return std::nullopt;
    std::vector<double> t(static_cast<size_t>(k));
    for (int i = 0; i < k; ++i)
        t[size_t(i)] = i;
    if (std::abs(cambio(t.data(), y + n - k, 0, k)) > std::max(1.0, 3.0 * sigma * std::sqrt(12.0 / k)))
        return std::nullopt;
    double suma = 0.0, suma2 = 0.0;
    for (int i = n - k; i < n; ++i)
        suma += y[i];
    const double media = suma / k;
    for (int i = n - k; i < n; ++i)
        suma2 += (y[i] - media) * (y[i] - media);
    if (std::sqrt(suma2 / (k - 1)) > 1.5 * sigma + 0.5)
        return std::nullopt;
    return Reposo{media, k};
}

// Whether the residuals run in stretches of one sign: the chi-square of their means over
// blocks of neighbours, against what the noise leaves in such a mean and, on a signal rounded
// to whole counts with little noise, what the rounding may leave (`redondeo`).
bool estructurados(const double *r, const double *v, int n, double redondeo)
{
    if (n < 32)
        return false;
    const int bloques = std::clamp(n / 8, 4, 32);
    double chi2 = 0.0;
    for (int b = 0; b < bloques; ++b) {
        double sw = 0.0, sr = 0.0;
        for (int i = n * b / bloques; i < n * (b + 1) / bloques; ++i) {
            sw += 1.0 / v[i];
            sr += r[i] / v[i];
        }
        const double media = sr / sw;
        chi2 += media * media / (1.0 / sw + redondeo * redondeo);
    }
    if (chi2 > bloques + 4.0 * std::sqrt(2.0 * bloques) + 4.0)
        return true;
    // Runs of one sign, fewer than chance gives by four of their deviations: a misfit smaller
    // than the noise still leaves its residuals in long stretches. Not where rounding itself
    // makes neighbours agree.
    if (redondeo > 0.021)
        return false;
    double mas = 0, menos = 0, rachas = 0;
    for (int i = 0; i < n; ++i) {
        if (r[i] == 0.0)
            continue;
        (r[i] > 0 ? mas : menos) += 1;
        rachas += i == 0 || (r[i] > 0) != (r[i - 1] > 0) || r[i - 1] == 0.0;
    }
    const double m = mas + menos;
    if (mas < 8 || menos < 8)
        return false;
    const double esperadas = 1 + 2 * mas * menos / m;
    const double varianza = (esperadas - 1) * (esperadas - 2) / (m - 1);
    return rachas < esperadas - 4.0 * std::sqrt(varianza);
}

// The period of a swing in the residuals that holds to the end: the strongest sine among
// periods from four samples to a third of the record, then as strong in the last half as in
// the first. Its drop of the chi-square must stand well above what noise gives.
std::optional<double> oscilacion(const double *t, const double *r, const double *v, int n,
                                 double espaciado)
{
    if (n < 32)
        return std::nullopt;
    const auto potencia = [&](double periodo, int desde, int hasta, double *amplitud) {
        const double w = 2.0 * std::numbers::pi / periodo;
        Eigen::Matrix3d a = Eigen::Matrix3d::Zero();
        Eigen::Vector3d b = Eigen::Vector3d::Zero();
        for (int i = desde; i < hasta; ++i) {
            const Eigen::Vector3d f(1.0, std::cos(w * t[i]), std::sin(w * t[i]));
            a.noalias() += f * f.transpose() / v[i];
            b += f * r[i] / v[i];
        }
        const Eigen::Vector3d x = a.ldlt().solve(b);
        if (amplitud)
            *amplitud = std::hypot(x[1], x[2]);
        // What the sine takes off the chi-square about the mean: x'b less the mean's b0²/a00.
        return x.dot(b) - b[0] * b[0] / a(0, 0);
    };
    const double largo = t[n - 1] - t[0], corto = std::max(4.0 * espaciado, largo / n * 4.0);
    if (!(largo > 3.0 * corto))
        return std::nullopt;
    double mejor = 0.0, periodo = 0.0;
    constexpr int candidatos = 160;
    const double razon = std::pow(largo / 3.0 / corto, 1.0 / (candidatos - 1));
    for (double p = corto; p <= largo / 3.0 * 1.0001; p *= razon)
        if (const double c = potencia(p, 0, n, nullptr); c > mejor) {
            mejor = c;
            periodo = p;
        }
    if (mejor < 40.0)
        return std::nullopt;
    // The top between its neighbours on the grid.
    double lo = periodo / razon, hi = periodo * razon;
    for (int k = 0; k < 40; ++k) {
        const double a = hi - (hi - lo) * 0.618034, b = lo + (hi - lo) * 0.618034;
        (potencia(a, 0, n, nullptr) > potencia(b, 0, n, nullptr) ? hi : lo)
            = potencia(a, 0, n, nullptr) > potencia(b, 0, n, nullptr) ? b : a;
    }
    periodo = (lo + hi) / 2;
    int medio = 0;
    while (medio < n && t[medio] < t[0] + largo / 2)
        ++medio;
    double a1 = 0.0, a2 = 0.0;
    potencia(periodo, 0, medio, &a1);
    const double c2 = potencia(periodo, medio, n, &a2);
    if (c2 < 15.0 || a2 < 0.6 * a1)
        return std::nullopt;
    return periodo;
}

// The standard normal's quantile, by bisection on its tail.
double cuantil(double p)
{
    double lo = -8, hi = 8;
    for (int i = 0; i < 60; ++i) {
        const double m = (lo + hi) / 2;
        (0.5 * std::erfc(-m / std::numbers::sqrt2) < p ? lo : hi) = m;
    }
    return (lo + hi) / 2;
}

// Where the samples have settled: the mean of the stretch since they last left `final` ± `b`
// (judged on blocks of points whose mean the noise moves by a quarter band at most), and
// whether that stretch is as long as what came before it and its halves agree within the
// noise: a value still creeping is not settled however close the model says it ends.
struct Asiento
{
    bool asentado = false;
    double media = 0.0, entrada = 0.0;
};
Asiento asiento(const double *t, const double *y, const double *cuenta, const double *limite,
                int n, double final, double b, double sigma, bool exacto, bool tendencia = false)
{
    Asiento a;
    if (n == 0)
        return a;
    const double porBloque = std::max(1.0, std::pow(4.0 * sigma / b, 2));
    int desde = n; // the first point of the settled stretch
    for (int i = n; i > 0;) {
        double suma = 0.0, muestras = 0.0;
        int j = i;
        while (j > 0 && muestras < porBloque) {
            --j;
            suma += y[j] * cuenta[j];
            muestras += cuenta[j];
        }
        if (std::abs(suma / muestras - final) > b)
            break;
        desde = i = j;
    }
    if (desde == n)
        return a;
    a.entrada = desde > 0 ? t[desde - 1] : 0.0;
    // Its last half, as two quarters: a value still on its way moves between them.
    const double fin = t[n - 1], medio = (a.entrada + fin) / 2, cuarto = (medio + fin) / 2;
    double s3 = 0, m3 = 0, s4 = 0, m4 = 0;
    for (int i = desde; i < n; ++i)
        if (t[i] >= medio)
            (t[i] < cuarto ? s3 : s4) += y[i] * cuenta[i], (t[i] < cuarto ? m3 : m4) += cuenta[i];
    if (m3 == 0 || m4 == 0)
        return a;
    a.media = (s3 + s4) / (m3 + m4);
    const double d = sigma * std::sqrt(1 / m3 + 1 / m4);
    // And their mean known within a quarter band, or it would move later by more.
    a.asentado = fin - a.entrada >= a.entrada && std::abs(s3 / m3 - s4 / m4) <= b / 4 + 1.5 * d
                 && 2.5 * sigma / std::sqrt(m3 + m4) <= b / 4;
    // With no model to say where a creep ends (`tendencia`), nor while the last half still
    // trends one way far beyond what its scatter would: a slow creep whose quarters differ by
    // little may have far to go. Against the scatter about the line where that is wider than
    // the noise: a swing dying away is no creep.
    if (tendencia) {
        const int mitad = int(std::lower_bound(t + desde, t + n, medio) - t);
        const Recta r = recta(t, y, cuenta, mitad, n);
        if (r.momento > 0 && std::abs(r.pendiente) > 4 * std::max(sigma, r.desvio) / std::sqrt(r.momento)
            && std::abs(r.pendiente) * (fin - a.entrada) > b / 8)
            a.asentado = false;
    }
    // Whole counts alone: settled only on one count, which a creep of a fraction would leave.
    // A reading now and then a count off it, as often in each quarter, is noise too small to
    // show at rest (a loop with integral action sits on a whole count), not a creep; off to
    // one side only, rarely enough that the value cannot lie far from the count.
    const double moda = std::round(a.media);
    double enCero = 0, enTope = 0, bajo = INFINITY, alto = -INFINITY, fuera3 = 0, fuera4 = 0;
    for (int i = desde; i < n; ++i)
        if (t[i] >= medio) {
            (y[i] < 127 ? enCero : enTope) += limite[i];
            bajo = std::min(bajo, y[i]);
            alto = std::max(alto, y[i]);
            (t[i] < cuarto ? fuera3 : fuera4) += std::abs(y[i] - moda) * cuenta[i];
        }
    // As often: the last quarter's share of them within two deviations of its share of readings.
    const double k = fuera3 + fuera4, p4 = m4 / (m3 + m4);
    const bool ruido = bajo >= moda - 1 && alto <= moda + 1 && k <= 0.1 * (m3 + m4)
                       && ((bajo < moda && alto > moda) || k <= 0.01 * (m3 + m4)) && fuera3 > 0 && fuera4 > 0
                       && std::abs(fuera4 - k * p4) <= 2 * std::sqrt(k * p4 * (1 - p4)) + 1;
    if (exacto)
        a.asentado = a.asentado && (alto == bajo || ruido);
    // Readings at a limit hide where the value is: from the share of them, as a normal variable
    // of deviation `sigma` read below 0.5 (above 253.5) that often.
    const double parte = std::max(enCero, enTope) / (m3 + m4);
    if (parte > 0 && parte < 1) {
        // Only where the readings cut off beyond the limit bias the mean by more than chance
        // moves the share: a few readings at the limit tell the value far worse than the mean.
        // The bias: each count beyond the limit a reading would have gone, had it not been cut.
        const double z = cuantil(parte), porParte = enCero > 0 ? 0.5 - sigma * z : 253.5 + sigma * z;
        const double hastaLimite = enCero > 0 ? porParte + 0.5 : 254.5 - porParte;
        double sesgo = 0.0;
        for (int k = 0; k < 8; ++k)
            sesgo += 0.5 * std::erfc((hastaLimite + k) / sigma / std::numbers::sqrt2);
        const double densidad = std::exp(-0.5 * z * z) / std::sqrt(2.0 * std::numbers::pi);
        if (sesgo > sigma * std::sqrt(parte * (1 - parte) / (m3 + m4)) / densidad)
            a.media = porParte;
    } else if (parte == 1)
        a.media = enCero > 0 ? 0.0 : 254.0;
    return a;
}

// What the samples show without a model, on samples smoothed just enough that noise moves no
// crossing by much: once they have settled, the final value (their mean since), the rise,
// peak and settling against it; before, the rise on the way to the set point and the furthest
// value. A peak's time only where the samples come back from it by more than the noise.
// Returns the smoothed samples' noise; in `dudaSubida`, what it moves the rise's two crossings.
double figurasDeMuestras(Figuras &f, const double *t, const double *y, const double *cuenta,
                         const double *limite, int n, bool asentar, bool exacto, double *dudaSubida = nullptr)
{
    // Towards the final value where it is known: a loop with an offset may end on the far side
    // of where it started from its set point.
    double amplitud = (asentar && f.valorFinal ? *f.valorFinal : f.hasta) - f.inicial;
    if (amplitud == 0.0 || n == 0)
        return INFINITY;
    const double sentido = amplitud > 0 ? 1.0 : -1.0;
    double cola = 0.0, muestras = 0.0;
    for (int i = n - std::max(1, n / 4); i < n; ++i) {
        cola += y[i] * cuenta[i];
        muestras += cuenta[i];
    }
    cola /= muestras;
    // Rounding alone: the samples' own figures, to the whole count they end at.
    const bool redondeo = exacto;
    Asiento a;
    if (asentar && f.valorFinal) {
        // A final value known already (the model's, settled): the figures against it.
        a.asentado = true;
        a.media = *f.valorFinal;
        amplitud = a.media - f.inicial;
        f.banda = std::max(0.05 * std::abs(amplitud), 1.0);
    } else if (asentar) {
        const double b = std::max(0.05 * std::abs(cola - f.inicial), 1.0);
        a = asiento(t, y, cuenta, limite, n, cola, b, f.ruido, exacto, true);
        if (a.asentado && (a.media - f.inicial) * sentido > 0) {
            amplitud = (redondeo ? std::round(a.media) : a.media) - f.inicial;
            f.valorFinal = f.inicial + amplitud;
            f.banda = std::max(0.05 * std::abs(amplitud), 1.0);
            f.error = f.hasta - *f.valorFinal;
            f.errorPorciento = *f.error / std::abs(double(f.hasta) - f.desde) * 100.0;
        } else
            a.asentado = false;
    }
    // Smoothed first to find the rise (towards where the samples settled, where they have); then
    // over as many samples as bring the noise to 0.4 % of the step, but across a fifth of the
    // rise at most, which a crossing barely feels.
    const double r = 40.0 * f.ruido / std::abs(amplitud);
    int ancho = std::clamp(int(std::ceil(r * r)), 1, 32);
    std::vector<double> s(static_cast<size_t>(n));
    suavizar(t, y, cuenta, n, ancho, f.espaciado, s.data());
    {
        Cruce c10(f.inicial + 0.1 * amplitud, sentido), c90(f.inicial + 0.9 * amplitud, sentido);
        for (int i = 0; i < n; ++i) {
            c10.agregar(t[i], s[size_t(i)]);
            c90.agregar(t[i], s[size_t(i)]);
        }
        if (c10.cuando() && c90.cuando() && f.espaciado > 0) {
            const double q = f.ruido / (0.004 * std::abs(amplitud));
            const double t10 = ultimoCruce(t, s.data(), n, c10.nivel(), sentido, *c90.cuando());
            const int tope = std::max(1, int(0.2 * (*c90.cuando() - t10) / f.espaciado));
            ancho = std::clamp(int(std::ceil(q * q)), 1, std::min(tope, 512));
            suavizar(t, y, cuenta, n, ancho, f.espaciado, s.data());
        }
    }
    Cruce a10(f.inicial + 0.1 * amplitud, sentido), a90(f.inicial + 0.9 * amplitud, sentido);
    Pico pico(sentido);
    for (int i = 0; i < n; ++i) {
        a10.agregar(t[i], s[size_t(i)]);
        a90.agregar(t[i], s[size_t(i)]);
        pico.agregar(t[i], s[size_t(i)]);
    }
    // The entry into the band on samples whose noise leaves it by chance nowhere in the record:
    // the highest of n of them stands some sqrt(2 ln n) deviations out.
    Banda banda(f.valorFinal.value_or(0.0), f.banda.value_or(0.0));
    if (a.asentado) {
        std::vector<double> e(static_cast<size_t>(n));
        const double desvios = std::sqrt(2.0 * std::log(std::max(2.0, double(n)))) + 2.0;
        suavizar(t, y, cuenta, n, std::clamp(int(std::ceil(std::pow(desvios * f.ruido / *f.banda, 2))), ancho, 256),
                 f.espaciado, e.data());
        for (int i = 0; i < n; ++i)
            banda.agregar(t[i], e[size_t(i)]);
    }
    f.nivel10 = a10.nivel();
    f.nivel90 = a90.nivel();
    std::optional<double> t10;
    if (a10.cuando() && a90.cuando()) {
        t10 = ultimoCruce(t, s.data(), n, a10.nivel(), sentido, *a90.cuando());
        f.subida = *a90.cuando() - *t10;
    }
    f.pico = pico.valor();
    const double fondo = a.asentado ? *f.valorFinal : cola;
    // The highest of many smoothed samples stands above their mean by some of their deviations
    // by chance alone: a peak only above that.
    const double alAzar = exacto ? 0.0
                                 : (std::sqrt(2.0 * std::log(std::max(2.0, double(n) / ancho))) + 2.0)
                                       * f.ruido / std::sqrt(double(ancho));
    const double umbralPico = std::max({1.0, 3.0 * f.ruido / std::sqrt(muestras), alAzar});
    if ((pico.valor() - fondo) * sentido > umbralPico)
        f.tiempoPico = pico.tiempo();
    // The smoothed samples' noise against the figure's tolerance: a crossing moved by a hundredth
    // of the response, the peak by half a point.
    const double suave = f.ruido / std::sqrt(double(ancho));
    f.subidaProvisional = !redondeo && suave > 0.01 * std::abs(amplitud);
    // Or by what the smoothed samples' noise moves each crossing over its own slope there (a
    // slow creep to 90 % is moved far more than a fast rise), as the model's doubt is judged.
    double varianza = INFINITY;
    if (f.subida && *f.subida > 0) {
        varianza = 0;
        const double w = std::max(0.1 * *f.subida, 1.5 * f.espaciado);
        for (const double tc : {*t10, *a90.cuando()}) {
            int lo = 0;
            while (lo < n && t[lo] < tc - w)
                ++lo;
            int hi = lo;
            while (hi < n && t[hi] <= tc + w)
                ++hi;
            const double pendiente = hi - lo >= 3 ? cambio(t, s.data(), lo, hi) / (t[hi - 1] - t[lo]) * sentido : 0;
            varianza += pendiente > 0 ? std::pow(suave / pendiente, 2) : INFINITY;
        }
        if (f.subidaProvisional)
            f.subidaProvisional = 2.5 * std::sqrt(varianza) > 0.08 * *f.subida + f.espaciado;
    }
    if (dudaSubida)
        *dudaSubida = std::sqrt(varianza);
    // Still on its way at the end, the peak may be yet to come; settled with no top above the
    // noise, the highest sample may fall anywhere.
    f.picoProvisional = f.tiempoPicoProvisional
        = pico.tiempo() >= 0.9 * t[n - 1] && (!a.asentado || f.tiempoPico);
    // Unsettled, the levels are the set point's, which a loop with an offset never reaches.
    if (!a.asentado) {
        f.subidaProvisional = true;
        return suave;
    }
    f.finalProvisional = false;
    f.subidaProvisional = f.subidaProvisional || !f.subida;
    double exceso = (pico.valor() - *f.valorFinal) * sentido, ruidoPico = suave;
    // Through noise, a parabola through the top quarter of the hump: its height is moved by the
    // noise of all the samples there, not of the one that came out highest.
    if (!redondeo && exceso > 0) {
        int centro = 0;
        for (int i = 1; i < n; ++i)
            if ((s[size_t(i)] - s[size_t(centro)]) * sentido > 0)
                centro = i;
        const double umbral = *f.valorFinal + sentido * 0.75 * exceso;
        int lo = centro, hi = centro;
        while (lo > 0 && (s[size_t(lo - 1)] - umbral) * sentido >= 0)
            --lo;
        while (hi + 1 < n && (s[size_t(hi + 1)] - umbral) * sentido >= 0)
            ++hi;
        Eigen::Matrix3d m = Eigen::Matrix3d::Zero();
        Eigen::Vector3d v = Eigen::Vector3d::Zero();
        double peso = 0;
        for (int i = lo; i <= hi; ++i) {
            const double u = t[i] - t[centro];
            const Eigen::Vector3d b(1.0, u, u * u);
            m.noalias() += cuenta[i] * b * b.transpose();
            v += cuenta[i] * y[i] * b;
            peso += cuenta[i];
        }
        if (hi - lo >= 3) {
            const Eigen::Vector3d c = m.ldlt().solve(v);
            const double tope = c[2] * sentido < 0 ? -c[1] / (2 * c[2]) : NAN;
            if (tope >= t[lo] - t[centro] && tope <= t[hi] - t[centro]) {
                f.pico = c[0] + c[1] * tope + c[2] * tope * tope;
                if (f.tiempoPico)
                    f.tiempoPico = t[centro] + tope;
                exceso = (*f.pico - *f.valorFinal) * sentido;
                ruidoPico = 1.5 * f.ruido / std::sqrt(peso);
            }
        }
    }
    // No top above the noise's: no overshoot, provisional where one over its tolerance (two
    // points) could hide there.
    if (!redondeo && !f.tiempoPico) {
        exceso = 0;
        ruidoPico = 0; // a parabola on the noise's own top tells nothing here; `oculto` does
        double oculto = umbralPico; // the largest overshoot the noise could hide
        if (oculto > 0.02 * std::abs(amplitud) && f.subida && a90.cuando() && f.espaciado > 0) {
            // A loop's hump is no narrower than its rise: on samples smoothed over the rise it
            // stands out of far less noise. None over the tolerance there: none at all.
            const int w = int(std::clamp(*f.subida / f.espaciado, double(ancho), 1e6));
            std::vector<double> e(static_cast<size_t>(n));
            suavizar(t, y, cuenta, n, w, f.espaciado, e.data());
            double top = 0.0;
            for (int i = 0; i < n; ++i)
                if (t[i] >= *a90.cuando())
                    top = std::max(top, (e[size_t(i)] - *f.valorFinal) * sentido);
            oculto = top + (std::sqrt(2.0 * std::log(std::max(2.0, double(n) / w))) + 2.0) * f.ruido / std::sqrt(double(w));
        }
        f.picoProvisional = f.picoProvisional || oculto > 0.02 * std::abs(amplitud);
    }
    f.sobreimpulso = std::max(exceso, 0.0) / std::abs(amplitud) * 100.0;
    if (exceso <= 0)
        f.pico = *f.valorFinal;
    // Known once two and a half of its deviations fit in its tolerance, two points.
    f.picoProvisional = f.picoProvisional || (!redondeo && 2.5 * ruidoPico > 0.02 * std::abs(amplitud));
    f.tiempoPicoProvisional = f.picoProvisional;
    if (banda.dentro())
        f.establecimiento = banda.entrada();
    f.establecimientoProvisional = !banda.dentro();
    return suave;
}

// Where the noise is only whole counts, the figures the samples show: their own peak, and the
// settling into the band around the whole count they end at.
void figurasExactas(Figuras &f, const double *t, const double *y, const double *cuenta,
                    const double *limite, int n)
{
    // The whole count the samples settled at, where they have; else the model's.
    const Asiento a = asiento(t, y, cuenta, limite, n, *f.valorFinal, *f.banda, f.ruido, true);
    f.valorFinal = std::round(a.asentado ? a.media : *f.valorFinal);
    const double amplitud = *f.valorFinal - f.inicial, sentido = amplitud > 0 ? 1.0 : -1.0;
    f.banda = std::max(0.05 * std::abs(amplitud), 1.0);
    f.nivel10 = f.inicial + 0.1 * amplitud;
    f.nivel90 = f.inicial + 0.9 * amplitud;
    Cruce a10(f.nivel10, sentido), a90(f.nivel90, sentido);
    Pico pico(sentido);
    Banda banda(*f.valorFinal, *f.banda);
    const auto nudo = [&](double ti, double yi) {
        a10.agregar(ti, yi);
        a90.agregar(ti, yi);
        banda.agregar(ti, yi);
    };
    for (int i = 0; i < n; ++i) {
        pico.agregar(t[i], y[i]);
        // A reading that moves one count has just passed the half count between: the crossings
        // on those passings, not on the steps' edges, which a slow approach leaves far behind.
        const bool enteros = i > 0 && y[i] == std::round(y[i]) && y[i - 1] == std::round(y[i - 1]);
        if (enteros && y[i] == y[i - 1])
            continue;
        if (enteros && std::abs(y[i] - y[i - 1]) == 1.0) {
            nudo((t[i - 1] + t[i]) / 2, (y[i - 1] + y[i]) / 2);
            continue;
        }
        if (enteros)
            nudo(t[i - 1], y[i - 1]);
        // A whole count after a point whose samples passed to it (merged, their mean between
        // counts) is where the value stays within half a count: no crossing there.
        else if (i > 0 && y[i] == std::round(y[i]))
            continue;
        nudo(t[i], y[i]);
    }
    f.subida.reset();
    if (a10.cuando() && a90.cuando())
        f.subida = *a90.cuando() - *a10.cuando();
    const double exceso = (pico.valor() - *f.valorFinal) * sentido;
    f.pico = exceso > 0 ? pico.valor() : *f.valorFinal;
    f.sobreimpulso = std::max(exceso, 0.0) / std::abs(amplitud) * 100.0;
    f.tiempoPico = exceso > 0 ? std::optional(pico.tiempo()) : std::nullopt;
    f.establecimiento = banda.dentro() ? std::optional(banda.entrada()) : std::nullopt;
    f.error = f.hasta - *f.valorFinal;
}

// The mean of a normal variable of mean `m` and deviation `s` known to lie below `c`.
double mediaBajo(double m, double s, double c)
{
    const double a = (c - m) / s;
    const double cola = 0.5 * std::erfc(-a / std::numbers::sqrt2);
    const double densidad = std::exp(-0.5 * a * a) / std::sqrt(2.0 * std::numbers::pi);
    return cola > 1e-12 ? m - s * densidad / cola : c;
}

} // namespace

FigurasEscalon medirEscalon(const DatosEscalon &d)
{
    Figuras f;
    f.hay = true;
    f.desde = d.desde;
    f.hasta = d.hasta;
    f.inicio = d.inicio;
    const RegistroEscalon &registro = *d.registro;
    f.espaciado = registro.espaciado();
    const int n = registro.puntos();
    const double *t = registro.tiempos(), *y = registro.valores();
    const double *cuenta = registro.cuentas();
    const double fin = registro.ultimo();

    // The noise of samples at rest before the step; else, for now, of the step's own first
    // ones, and once the model is fitted, of its residual.
    std::optional<double> medido = ruidoRobusto(d.antes, d.antesN);
    std::optional<Reposo> reposo;
    if (medido)
        reposo = enReposo(d.antes, d.antesN, std::max(*medido, cuantizacion));
    f.ruidoEnReposo = bool(reposo);
    if (!reposo) {
        int k = 0;
        while (k < n && cuenta[k] == 1.0)
            ++k;
        medido = ruidoRobusto(y, k);
    }
    double sigma = std::max(medido.value_or(0.0), cuantizacion);
    f.ruido = sigma;
    const double salto = double(d.hasta) - double(d.desde);
    if (std::abs(salto) < std::max(4.0, 4.0 * sigma)) {
        f.pequeno = true;
        f.nota = Nota::pequeno;
        return f;
    }
    if (n == 0)
        return f;
    // Where it started: the samples at rest before the step, else the last few, else its first.
    f.inicial = y[0];
    if (reposo)
        f.inicial = reposo->media;
    else if (d.antesN > 0) {
        const int k = std::min(4, d.antesN);
        f.inicial = 0.0;
        for (int i = d.antesN - k; i < d.antesN; ++i)
            f.inicial += d.antes[i] / k;
    }
    const auto notaCon = [&](Nota nota) {
        f.nota = nota;
        f.finalProvisional = true;
        figurasDeMuestras(f, t, y, cuenta, registro.enLimite(), n, nota == Nota::noSeAjusta, medido.value_or(0.0) < 0.1);
        f.cortado = d.terminado && (nota == Nota::corta || (nota == Nota::noSeAjusta && f.finalProvisional));
        return f;
    };
    if (!movido(y, cuenta, n, f.inicial, sigma)) {
        f.nota = Nota::sinRespuesta;
        return f;
    }

    // Each point's variance: its samples' noise, averaged down, but never under what whole
    // counts leave, which averaging does not remove from a clean signal. Where the samples
    // before the step are at rest they come first, as their mean: the start it had.
    std::vector<double> pt, py, pv, pc, pl; // pl: readings at a limit
    const auto recortada = [](double y) { return y == 0.0 || y == 254.0 ? 1.0 : 0.0; };
    const double *reposados = reposo ? d.antes + d.antesN - reposo->n : nullptr;
    if (reposo) {
        pt.push_back(-std::max(f.espaciado, 1e-3));
        py.push_back(reposo->media);
        pv.push_back(std::max(sigma * sigma / reposo->n, 0.01));
        pc.push_back(reposo->n);
        pl.push_back(0.0);
        for (int i = 0; i < reposo->n; ++i)
            pl.back() += recortada(reposados[i]);
    }
    const double *limites = registro.enLimite();
    for (int i = 0; i < n; ++i) {
        pt.push_back(t[i]);
        py.push_back(y[i]);
        pv.push_back(std::max(sigma * sigma / cuenta[i], cuantizacion * cuantizacion));
        pc.push_back(cuenta[i]);
        pl.push_back(limites[i]);
    }
    const int np = int(pt.size());
    // Readings at 0 or 254 may hide a value beyond: each is taken as the mean a reading below
    // (or above) the limit would have under the model, fitted again with them.
    std::vector<double> limpio = py;
    double enLimite = 0;
    for (const double k : pl)
        enLimite += k;
    // A point of c samples, k of them at the limit nearer its mean.
    const auto imputada = [](double y, double c, double k, double m, double s) {
        if (k == 0)
            return y;
        return y < 127 ? (c * y + k * mediaBajo(m, s, 0.5)) / c
                       : (c * y - k * 254.0 - k * mediaBajo(-m, s, -253.5)) / c;
    };
    // A controller may sample after acting on the new set point: the response may start a
    // sample before the first that carries it.
    const double temprano = -f.espaciado;
    std::optional<Ajuste> ajuste = ajustar({pt.data(), py.data(), pv.data(), np, temprano});
    for (int vuelta = 0; ajuste && enLimite > 0 && vuelta < 3; ++vuelta) {
        const double s = std::max(medido.value_or(0.0), cuantizacion);
        for (int i = 0; i < np; ++i)
            py[size_t(i)] = imputada(limpio[size_t(i)], pc[size_t(i)], pl[size_t(i)],
                                     i == 0 && reposo ? ajuste->modelo.inicial
                                                      : ajuste->modelo.valor(pt[size_t(i)]), s);
        if (std::optional<Ajuste> otro = ajustar({pt.data(), py.data(), pv.data(), np, temprano}))
            ajuste = otro;
    }
    if (!ajuste)
        return notaCon(Nota::corta);
    const Modelo &m = ajuste->modelo;

    // The residuals, and where the loop was not at rest before the step, or rested at a limit
    // that clipped its noise, the noise from them.
    std::vector<double> r(size_t(np), 0.0);
    for (int i = 0; i < np; ++i)
        r[size_t(i)] = py[size_t(i)] - m.valor(pt[size_t(i)]);
    const bool reposoRecortado = reposo && pl[0] > 0;
    // Whole counts and nothing more show as a value that holds one count in the end, with
    // no rest before the step to tell it from.
    double quietas = 0;
    for (int i = n - 1; i >= 0 && y[i] == y[n - 1] && y[i] == std::round(y[i]); --i)
        quietas += cuenta[i];
    const bool enteras = quietas >= 16 && quietas >= registro.muestras() / 4 && y[n - 1] != 0.0
                         && y[n - 1] != 254.0;
    if (!reposo || reposoRecortado) {
        f.ruidoEnReposo = false;
        std::vector<double> propios;
        for (int i = reposo ? 1 : 0; i < np && pc[size_t(i)] == 1.0; ++i)
            propios.push_back(r[size_t(i)]);
        // Whole counts alone never turn back in the last quarter, where the loop has settled or
        // creeps one way; noise does.
        int direccion = 0;
        bool vuelve = false;
        for (int i = n - n / 4; i < n; ++i)
            if (i > 0 && y[i] != y[i - 1]) {
                const int d = y[i] > y[i - 1] ? 1 : -1;
                vuelve = vuelve || (direccion != 0 && d != direccion);
                direccion = d;
            }
        if (const std::optional<double> s = ruidoRobusto(propios.data(), int(propios.size()))) {
            // A residual no wider than whole counts leave, and no turning back: whole counts alone.
            medido = *s <= cuantizacion && !vuelve ? 0.0 : *s;
            sigma = std::max(*s, cuantizacion);
            f.ruido = sigma;
            for (int i = 0; i < np; ++i)
                pv[size_t(i)] = std::max(sigma * sigma / pc[size_t(i)], cuantizacion * cuantizacion);
        }
        if (enteras) {
            medido = 0.0;
            sigma = f.ruido = cuantizacion;
            for (int i = 0; i < np; ++i)
                pv[size_t(i)] = cuantizacion * cuantizacion;
        }
    }
    double chi2 = 0.0;
    for (int i = 0; i < np; ++i)
        chi2 += r[size_t(i)] * r[size_t(i)] / pv[size_t(i)];
    f.residuo = sigma * std::sqrt(chi2 / std::max(1, ajuste->libres));
    const double amplitud = m.final - m.inicial;
    const double banda = std::max(0.05 * std::abs(amplitud), 1.0);
    const double sentido = salto > 0 ? 1.0 : -1.0;

    // Clipped where the model goes past a limit by more than the noise within the samples.
    const Modelo::Forma forma = m.forma();
    const double tope = m.final + forma.sobrepaso * amplitud;
    for (const double limite : {0.0, 254.0}) {
        const double masAlla = limite == 0.0 ? -1.0 : 1.0;
        const bool pico = forma.sobrepaso > 0 && forma.tiempoPico <= fin
                          && (tope - limite) * masAlla > std::max(1.0, 2.0 * sigma);
        const bool final = (m.final - limite) * masAlla > std::max(1.0, 2.0 * sigma);
        if (enLimite >= 3 && (pico || final)) {
            f.limite = int(limite);
            return notaCon(Nota::saturada);
        }
    }

    // The model stands for the loop only where it fits and where the samples hold its end.
    const double redondeo = std::min(0.5, std::exp(-2.0 * std::pow(std::numbers::pi * medido.value_or(0.0), 2)) / std::numbers::pi + 0.02);
    const bool grande = *f.residuo > std::hypot(1.5 * sigma, 0.5);
    const bool estructura = estructurados(r.data(), pv.data(), np, redondeo);
    if (m.oscila() && fin - m.retardo > 1.5 * m.periodo()
        && std::exp(-(fin - m.retardo) / m.constante()) > 0.5) {
        f.periodo = m.periodo();
        return notaCon(Nota::sinAmortiguar);
    }
    if (grande || estructura) {
        if (const std::optional<double> p = oscilacion(pt.data(), r.data(), pv.data(), np, f.espaciado)) {
            f.periodo = p;
            return notaCon(Nota::sinAmortiguar);
        }
    }
    if (grande || estructura || !(m.final >= -0.5 && m.final <= 254.5)) {
        // Past the set point and still going the same way, straight: a runaway (measured
        // against the set-point step: a runaway's model ends nowhere).
        const double paso = std::max(0.05 * std::abs(salto), 1.0);
        const bool rampa = cambio(t, y, n / 2, n) * sentido > paso
                           && (y[n - 1] - d.hasta) * sentido > paso;
        return notaCon(rampa ? Nota::rampa : (grande || estructura) ? Nota::noSeAjusta : Nota::corta);
    }
    if (!(ajuste->dFinal <= std::abs(amplitud) / 4))
        return notaCon(Nota::corta);

    f.modelo = m;
    f.inicial = m.inicial;
    f.valorFinal = m.final;
    f.nivel10 = m.inicial + 0.1 * amplitud;
    f.nivel90 = m.inicial + 0.9 * amplitud;
    // A model's figures; those of the models as far off as the points allow tell how well
    // they are known.
    struct Cifras
    {
        double final, subida, sobreimpulso, tiempoPico, establecimiento;
    };
    const auto cifras = [&](const Modelo &o, const Modelo::Forma &fo) {
        const double a = std::abs(o.final - o.inicial);
        return Cifras{o.final, fo.t10 && fo.t90 ? *fo.t90 - *fo.t10 : INFINITY, 100.0 * fo.sobrepaso,
                      fo.tiempoPico, a > 0 ? o.establecimiento(banda / a) : INFINITY};
    };
    const Cifras propias = cifras(m, forma);
    Cifras duda{0, 0, 0, 0, 0};
    // A settling is known once every model allowed enters the band between where this one
    // enters it narrowed and widened by a quarter: the band's own doubt.
    const double a = std::abs(amplitud);
    const double entrada = 0.9 * m.establecimiento(1.25 * banda / a) - f.espaciado;
    const double salida = 1.1 * m.establecimiento(0.75 * banda / a) + f.espaciado;
    bool establecido = std::isfinite(salida);
    // A rise is read between this model's 10 % and 90 % levels: the others' between the same
    // levels, or a final value in doubt would count twice (a slow creep's 90 % moves far).
    const auto subidaEntre = [&](const Modelo &o) {
        const double ao = o.final - o.inicial;
        const auto t10 = o.alcanza((m.inicial + 0.1 * amplitud - o.inicial) / ao);
        const auto t90 = o.alcanza((m.inicial + 0.9 * amplitud - o.inicial) / ao);
        return t10 && t90 ? *t90 - *t10 : INFINITY;
    };
    for (const Modelo &o : ajuste->dudas) {
        const Cifras c = cifras(o, o.forma());
        duda = {std::max(duda.final, std::abs(c.final - propias.final)),
                std::max(duda.subida, std::abs(subidaEntre(o) - propias.subida)),
                std::max(duda.sobreimpulso, std::abs(c.sobreimpulso - propias.sobreimpulso)),
                std::max(duda.tiempoPico, std::abs(c.tiempoPico - propias.tiempoPico)), 0};
        // The doubt's models lie two and a half deviations out; the figure is known at two.
        const double e = propias.establecimiento + 0.8 * (c.establecimiento - propias.establecimiento);
        establecido = establecido && e >= entrada && e <= salida;
    }
    if (forma.t10 && forma.t90)
        f.subida = propias.subida;
    // A peak only where the samples around it stand above the final value by more than their
    // noise averages to.
    double cerca = 0.0;
    if (forma.sobrepaso > 0)
        for (int i = 0; i < n; ++i)
            if (m.paso(t[i] - m.retardo) - 1.0 > forma.sobrepaso / 2)
                cerca += cuenta[i];
    const double exceso = forma.sobrepaso * std::abs(amplitud);
    const bool pico = forma.sobrepaso > 0
                      && exceso > std::max(0.2, 3.0 * sigma / std::sqrt(std::max(cerca, 1.0)));
    f.sobreimpulso = pico ? propias.sobreimpulso : 0.0;
    f.pico = m.final + (pico ? forma.sobrepaso * amplitud : 0.0);
    if (pico)
        f.tiempoPico = forma.tiempoPico;
    f.banda = banda;
    if (std::isfinite(propias.establecimiento))
        f.establecimiento = propias.establecimiento;
    f.error = d.hasta - m.final;
    if (m.primerOrden())
        f.constante = m.constante();
    else {
        f.zeta = m.zeta();
        f.wn = m.wn();
    }
    f.retardo = std::max(0.0, m.retardo);
    // Whole counts and nothing more: the samples' own figures.
    const bool exactas = medido.value_or(0.0) < 0.1;
    if (exactas) {
        f.inicial = std::round(f.inicial);
        figurasExactas(f, t, y, cuenta, registro.enLimite(), n);
    }
    f.errorPorciento = *f.error / std::abs(salto) * 100.0;

    // Final once the model has settled within the samples and every model the points allow
    // ends within a quarter of the band of it; each other figure once they all agree on it
    // within its tolerance, the peak once a quarter period has passed it, the settling once
    // it has held for twice the slowest decay.
    const double dt = f.espaciado;
    // On the readings themselves: one at a limit tells by how often it is there.
    const int propio = reposo ? 1 : 0;
    const Asiento asentado = asiento(pt.data() + propio, limpio.data() + propio, pc.data() + propio,
                                     pl.data() + propio, np - propio, *f.valorFinal, *f.banda, sigma, exactas);
    if (asentado.asentado && !exactas && (asentado.media == 0.0 || asentado.media < 0.5 + 3 * sigma
                                         || asentado.media > 253.5 - 3 * sigma) && enLimite > 0) {
        f.valorFinal = asentado.media;
        f.error = d.hasta - asentado.media;
        f.errorPorciento = *f.error / std::abs(salto) * 100.0;
    }
    const bool seguro = f.establecimiento && *f.establecimiento <= fin && duda.final <= banda / 4
                        && asentado.asentado && std::abs(*f.valorFinal - asentado.media) <= *f.banda / 4;
    f.finalProvisional = !seguro;
    f.subidaProvisional = !seguro || (!exactas && f.subida && 0.8 * duda.subida > 0.1 * *f.subida + 2 * dt);
    const double trasPico = m.oscila() ? m.periodo() / 4 : m.constante();
    f.picoProvisional = !seguro || (f.tiempoPico && fin < *f.tiempoPico + trasPico)
                        || (!exactas && duda.sobreimpulso > 1.5);
    // A broad hump (a PI loop's) has a well-known height long before a well-known time.
    f.tiempoPicoProvisional = f.picoProvisional
                              || (!exactas && f.tiempoPico && duda.tiempoPico > 0.1 * *f.tiempoPico + dt);
    f.establecimientoProvisional = !seguro || fin < *f.establecimiento + 2.0 * m.constante()
                                   || (!exactas && !establecido);
    // The model's rise and overshoot only where the samples' own agree, within what their noise
    // leaves them: a model that misses the loop's shape can fit within the noise.
    if (!exactas) {
        Figuras propias = f;
        if (!seguro)
            propias.valorFinal.reset();
        double dudaPropia = INFINITY;
        const double suave = figurasDeMuestras(propias, t, y, cuenta, registro.enLimite(), n, true, false, &dudaPropia);
        if (propias.valorFinal && propias.subida && f.subida) {
            // What the samples' noise moves their two crossings, over the slopes where they fall.
            const double margen = 2.5 * dudaPropia;
            if (std::abs(*propias.subida - *f.subida) > 0.08 * *f.subida + dt + margen)
                f.subidaProvisional = true;
        }
        if (propias.valorFinal && propias.sobreimpulso && f.sobreimpulso
            && std::abs(*propias.sobreimpulso - *f.sobreimpulso)
                   > 1.5 + 2.5 * std::sqrt(2.0) * 100.0 * suave / std::abs(amplitud))
            f.picoProvisional = f.tiempoPicoProvisional = true;
        // A model with no peak (the simplest the data support) says nothing of a hump the
        // samples cannot rule out.
        if (!pico && propias.valorFinal && propias.picoProvisional)
            f.picoProvisional = f.tiempoPicoProvisional = true;
        // Where the model leaves a figure in doubt and the samples pin it against its settled
        // final value, theirs.
        if (seguro) {
            if (f.subidaProvisional && propias.subida && !propias.subidaProvisional) {
                f.subida = propias.subida;
                f.nivel10 = propias.nivel10;
                f.nivel90 = propias.nivel90;
                f.subidaProvisional = false;
            }
            if (f.picoProvisional && propias.sobreimpulso && !propias.picoProvisional) {
                f.sobreimpulso = propias.sobreimpulso;
                f.pico = propias.pico;
                f.tiempoPico = propias.tiempoPico;
                f.picoProvisional = false;
                f.tiempoPicoProvisional = propias.tiempoPicoProvisional;
            }
        }
    }
    f.cortado = d.terminado && f.finalProvisional;
    return f;
}
