#pragma once

// A seeded draw of the loops a bench has (first- and second-order plants under P, PI and PID
// control, a dead time in or out of the loop, noise, rates, levels, what came before), each
// step fed sample by sample to RespuestaEscalon, its figures asked at random moments and
// judged against the loop's own response, integrated here finely apart from the code.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "escalon/respuestaescalon.h"

namespace barrido {

using Figuras = RespuestaEscalon::Figuras;
using Nota = RespuestaEscalon::Nota;

struct Lazo
{
    int orden = 1;                    // of the plant, of gain 1
    double tau = 1, zeta = 1, wn = 1; // first order: tau; second: zeta, wn
    char control = 'P';               // P, I (PI) or D (PID, derivative of the measurement)
    double kp = 1, ti = 0, td = 0;    // s
    double retardo = 0;               // s
    bool dentro = false;              // the dead time in the loop, else on the set point
    double tasa = 10, ruido = 0;      // samples/s; Gaussian sigma, counts
    int antes = 300;                  // samples before the first set point below
    std::vector<std::pair<double, int>> setPoints; // (time, value); the last step is judged
    std::string inicio = "reposo";    // what came before it
    double ganancia() const { return control == 'P' ? kp / (1 + kp) : 1; }
};

// The loop integrated by Runge-Kutta in steps of at most a fiftieth of its fastest time, a
// whole number of them a sample; a delayed signal read between the steps stored.
class Integrador
{
public:
    explicit Integrador(const Lazo &l) : l_(l)
    {
        const double planta = l.orden == 1 ? l.tau : 1 / (l.wn * (l.zeta + std::sqrt(l.zeta * l.zeta + 1)));
        const double rapido = std::min(planta / (1 + l.kp), l.td > 0 ? l.td / 10 : 1e9);
        subpasos = std::max(1, int(std::ceil(50 / l.tasa / rapido)));
        if (l.retardo > 0)
            subpasos = std::max(subpasos, int(std::ceil(4 / l.tasa / l.retardo)));
        h = 1 / l.tasa / subpasos;
        const double r = l.setPoints.front().second, y = l.ganancia() * r;
        x_ = {y, 0, l.control == 'P' ? 0 : y, y};
        r_ = r;
        pasado_.assign(size_t(l.retardo / h) + 3, {y, r});
    }
    void setPoint(double r) { r_ = r; }
    double y() const { return x_[0]; }
    void paso()
    {
        pasado_.push_back({salida(x_, r_), r_});
        pasado_.pop_front();
        const Estado k1 = derivada(x_, 0), k2 = derivada(mas(x_, k1, h / 2), h / 2);
        const Estado k3 = derivada(mas(x_, k2, h / 2), h / 2), k4 = derivada(mas(x_, k3, h), h);
        for (size_t i = 0; i < x_.size(); ++i)
            x_[i] += h / 6 * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
    }
    int subpasos = 1;
    double h = 1;

private:
    using Estado = std::array<double, 4>; // y, dy/dt, integral part of u, filtered y
    static Estado mas(Estado a, const Estado &d, double k)
    {
        for (size_t i = 0; i < a.size(); ++i)
            a[i] += d[i] * k;
        return a;
    }
    double salida(const Estado &x, double r) const
    {
        double u = l_.kp * (r - x[0]) + (l_.control == 'P' ? 0 : x[2]);
        if (l_.control == 'D')
            u -= l_.kp * l_.td * (x[0] - x[3]) / (l_.td / 10);
        return u;
    }
    // (u, r) `atras` s before the last step stored.
    std::pair<double, double> antes(double atras) const
    {
        const double k = atras / h;
        const size_t i = size_t(k);
        const auto &a = pasado_[pasado_.size() - 1 - i], &b = pasado_[pasado_.size() - 2 - i];
        return {a.first + (b.first - a.first) * (k - double(i)), a.second + (b.second - a.second) * (k - double(i))};
    }
    Estado derivada(const Estado &x, double dt) const
    {
        const bool tarde = l_.retardo > 0;
        const double r = tarde && !l_.dentro ? antes(l_.retardo - dt).second : r_;
        const double u = tarde && l_.dentro ? antes(l_.retardo - dt).first : salida(x, r);
        Estado d{};
        if (l_.orden == 1)
            d[0] = (u - x[0]) / l_.tau;
        else {
            d[0] = x[1];
            d[1] = l_.wn * l_.wn * (u - x[0]) - 2 * l_.zeta * l_.wn * x[1];
        }
        d[2] = l_.control == 'P' ? 0 : l_.kp / l_.ti * (r - x[0]);
        d[3] = l_.control == 'D' ? (x[0] - x[3]) / (l_.td / 10) : 0;
        return d;
    }

    const Lazo &l_;
    Estado x_{};
    double r_ = 0;
    std::deque<std::pair<double, double>> pasado_;
};

// The loop's true response around the judged step, every integration step from it on.
struct Verdad
{
    double h = 0, y0 = 0, yF = 0; // the value when the step came, where it settles
    std::vector<double> y;        // from the step on
    double en(double t) const
    {
        const double k = std::clamp(t / h, 0.0, double(y.size() - 1));
        const size_t i = std::min(size_t(k), y.size() - 2);
        return y[i] + (y[i + 1] - y[i]) * (k - double(i));
    }
    double sentido() const { return yF >= y0 ? 1 : -1; }
    std::optional<double> cruce(double nivel, double hasta) const
    {
        if ((y[0] - nivel) * sentido() >= 0)
            return 0.0;
        for (size_t i = 1; i < y.size() && double(i) * h <= hasta; ++i)
            if ((y[i] - nivel) * sentido() >= 0)
                return (double(i) - 1 + (nivel - y[i - 1]) / (y[i] - y[i - 1])) * h;
        return std::nullopt;
    }
    // The last time out of yF ± b (or of another centre's).
    double establecimiento(double b, std::optional<double> centro = std::nullopt) const
    {
        for (size_t i = y.size(); i-- > 0;)
            if (std::abs(y[i] - centro.value_or(yF)) > b)
                return double(i + 1) * h;
        return 0;
    }
    struct Pico { double t, exceso; };
    Pico pico() const
    {
        Pico p{0, -1e9};
        for (size_t i = 0; i < y.size(); ++i)
            if ((y[i] - yF) * sentido() > p.exceso)
                p = {double(i) * h, (y[i] - yF) * sentido()};
        return p;
    }
    double banda() const { return std::max(0.05 * std::abs(yF - y0), 1.0); }
};

struct Caso
{
    Lazo lazo;
    std::vector<std::pair<double, int16_t>> muestras; // (time from the judged step, reading)
    Verdad verdad;
    double hasta = 0;               // s fed after the step
    std::vector<double> preguntas; // when the figures are asked
};

double logUniforme(std::mt19937 &g, double a, double b)
{
    return std::exp(std::uniform_real_distribution<double>(std::log(a), std::log(b))(g));
}

// One loop of the draw, integrated; nullopt where it does not settle (an unstable or barely
// damped loop is no bench's) or takes too many samples.
std::optional<Caso> dibujar(std::mt19937 &g)
{
    std::uniform_real_distribution<double> u(0, 1);
    Lazo l;
    l.orden = u(g) < 0.5 ? 1 : 2;
    l.control = "PID"[int(u(g) * 3)];
    l.tasa = u(g) < 0.1 ? 1920 : u(g) < 0.1 ? 1 : logUniforme(g, 1, 1920);
    const double t = logUniforme(g, std::max(0.02, 5 / l.tasa), std::max(std::min(60.0, 2000 / l.tasa), 5.01 / l.tasa));
    l.tau = t;
    l.wn = 1 / t;
    l.zeta = u(g) < 0.15 ? 1.0 : logUniforme(g, 0.1, 3);
    l.kp = logUniforme(g, 0.3, l.control == 'P' ? 8 : 4);
    if (l.control != 'P')
        l.ti = t * logUniforme(g, 0.4, 4);
    if (l.control == 'D')
        l.td = t * logUniforme(g, 0.05, 0.5);
    if (u(g) < 0.6) {
        l.retardo = u(g) * 1.0;
        l.dentro = u(g) < 0.5;
    }
    l.ruido = u(g) < 0.25 ? 0 : u(g) * 2;
    l.antes = u(g) < 0.15 ? 5 + int(u(g) * 40) : 300;
    // The set points: a step of 2 to 200 counts, at times from a limit or to one.
    const auto nivel = [&] { return u(g) < 0.1 ? 0 : u(g) < 0.1 ? 254 : int(u(g) * 255); };
    int r0 = nivel(), r1 = nivel();
    const int salto = int(logUniforme(g, 2, 200.99)) * (u(g) < 0.5 ? 1 : -1);
    if (std::abs(r1 - r0) < 2 || std::abs(r1 - r0) > 200)
        r1 = std::clamp(r0 + salto, 0, 254) == r0 ? r0 - salto : std::clamp(r0 + salto, 0, 254);
    if (r1 == r0 || std::abs(r1 - r0) < 2 || r1 < 0 || r1 > 254)
        return std::nullopt;
    const double previo = u(g);
    l.inicio = previo < 0.6 ? "reposo" : previo < 0.8 ? "tras oscilación" : "tras escalón corto";
    const double antes = l.antes / l.tasa;
    if (l.inicio == "reposo")
        l.setPoints = {{-antes, r0}, {0, r1}};
    else {
        const int rp = std::clamp(r0 + (u(g) < 0.5 ? 1 : -1) * int(logUniforme(g, 4, 60)), 0, 254);
        const double cuando = std::ceil(((l.inicio == "tras escalón corto" ? 0.5 : 4) * t * (0.5 + u(g)) + l.retardo) * l.tasa) / l.tasa;
        l.setPoints = {{-cuando - antes, rp}, {-cuando, r0}, {0, r1}};
    }
    // Integrated from the first set point on; judged from the last step on.
    Caso c;
    Integrador in(l);
    std::normal_distribution<double> ruido(0, 1);
    const double inicio = l.setPoints.front().first;
    const double maximo = 120 * t + 4 * l.retardo + 10 / l.tasa;
    std::vector<double> verdad;
    size_t proximo = 1;
    const double yF = l.ganancia() * r1;
    double banda = 0, ultimoFuera = 0;
    for (long k = 0;; ++k) {
        const double tk = inicio + double(k) / l.tasa;
        if (tk > maximo || c.muestras.size() > 200000)
            return std::nullopt;
        while (proximo < l.setPoints.size() && tk >= l.setPoints[proximo].first - 1e-9)
            in.setPoint(l.setPoints[proximo++].second);
        const double y = in.y() + l.ruido * ruido(g);
        c.muestras.push_back({tk, int16_t(std::clamp(std::lround(y), 0L, 254L))});
        for (int s = 0; s < in.subpasos; ++s) {
            if (tk >= -1e-9) {
                if (verdad.empty())
                    banda = std::max(0.05 * std::abs(yF - in.y()), 1.0);
                verdad.push_back(in.y());
                if (std::abs(in.y() - yF) > banda / 40)
                    ultimoFuera = double(verdad.size()) * in.h;
            }
            in.paso();
        }
        // Settled into a fortieth of its band for twice as long as it took, 3 s at least, and
        // for enough samples to pin the final value to a tenth of the band through the noise.
        if (tk > std::max(2 * ultimoFuera, 20 / l.tasa) && tk > ultimoFuera + 3
            && (tk - ultimoFuera) * l.tasa > 300 * std::pow(l.ruido / banda, 2) + 20)
            break;
    }
    c.verdad = {in.h, verdad.front(), yF, std::move(verdad)};
    c.lazo = l;
    c.hasta = c.muestras.back().first;
    for (int i = 0; i < 4; ++i)
        c.preguntas.push_back(u(g) * c.hasta);
    std::sort(c.preguntas.begin(), c.preguntas.end());
    c.preguntas.push_back(c.hasta);
    return c;
}

// The judgement of one loop: empty when it passed, else why not.
struct Juicio
{
    std::string falla;
    bool nota = false; // passed on a note the truth confirms
};

Juicio juzgar(const Caso &c, bool trazar = false)
{
    RespuestaEscalon r;
    const Lazo &l = c.lazo;
    const Verdad &v = c.verdad;
    const Reloj::Instante base{std::chrono::hours(2)};
    size_t proximo = 0, i = 0;
    int16_t sp = int16_t(l.setPoints.front().second);
    std::map<std::string, double> finales; // the first value each figure was shown final with
    Juicio j;
    char texto[200];
    Nota nota = Nota::ninguna;
    const auto falla = [&](const char *que, double visto, double verdad, double t) {
        std::snprintf(texto, sizeof texto, "%s %.4g for %.4g at %.3g s (note %d)", que, visto, verdad, t, int(nota));
        j.falla = texto;
    };
    for (size_t p = 0; p < c.preguntas.size() && j.falla.empty(); ++p) {
        const double ta = c.preguntas[p];
        for (; i < c.muestras.size() && c.muestras[i].first <= ta + 1e-9; ++i) {
            while (proximo < l.setPoints.size() && c.muestras[i].first >= l.setPoints[proximo].first - 1e-9)
                sp = int16_t(l.setPoints[proximo++].second);
            r.agregar(base + std::chrono::microseconds(std::llround(c.muestras[i].first * 1e6)),
                      c.muestras[i].second, sp);
        }
        if (ta < 0)
            continue;
        const Figuras f = r.actual();
        nota = f.nota;
        if (trazar)
            std::printf("at %.4g s: note %d final %.5g%s rise %.5g%s overshoot %.4g%s peak at %.4g%s settling %.4g%s "
                        "noise %.3g%s residual %.3g cero %.3g c1 %.4g c2 %.4g dead %.4g | truth final %.5g\n",
                        ta, int(f.nota), f.valorFinal.value_or(NAN), f.finalProvisional ? "?" : "",
                        f.subida.value_or(NAN), f.subidaProvisional ? "?" : "", f.sobreimpulso.value_or(NAN),
                        f.picoProvisional ? "?" : "", f.tiempoPico.value_or(NAN), f.tiempoPicoProvisional ? "?" : "",
                        f.establecimiento.value_or(NAN), f.establecimientoProvisional ? "?" : "", f.ruido,
                        f.ruidoEnReposo ? " (rest)" : "", f.residuo.value_or(NAN), f.modelo ? f.modelo->cero : NAN,
                        f.modelo ? f.modelo->c1 : NAN, f.modelo ? f.modelo->c2 : NAN, f.modelo ? f.modelo->retardo : NAN,
                        c.verdad.yF);
        const bool ultima = p + 1 == c.preguntas.size();
        const double dt = 1 / l.tasa, amplitud = std::abs(v.yF - v.y0), b = v.banda();
        const int salto = l.setPoints.back().second - l.setPoints[l.setPoints.size() - 2].second;
        // Each figure shown final within its tolerance of the truth, and of what it showed
        // before; those left undefined only where the figure is not to be had yet.
        const auto figura = [&](const char *que, std::optional<double> visto, bool provisional,
                                double verdad, double tolerancia) {
            if (!visto || provisional || !j.falla.empty())
                return;
            if (std::abs(*visto - verdad) > tolerancia)
                return falla(que, *visto, verdad, ta);
            if (const auto antes = finales.find(que); antes != finales.end() && std::abs(*visto - antes->second) > tolerancia)
                return falla((std::string(que) + " moved").c_str(), *visto, antes->second, ta);
            finales.emplace(que, *visto);
        };
        // The rise is the loop's own, 10 % to 90 % of the way to where it settles, whatever
        // levels the figures read it between.
        if (f.subida && l.ruido > 0) {
            const double a = *v.cruce(v.y0 + 0.1 * (v.yF - v.y0), 1e9), b90 = *v.cruce(v.y0 + 0.9 * (v.yF - v.y0), 1e9);
            figura("rise", f.subida, f.subidaProvisional, b90 - a, 0.1 * (b90 - a) + 2 * dt);
        } else if (f.subida) {
            // Whole counts alone: the samples' own, between the levels of the counts they rest
            // and settle at, each crossing read between the half counts the loop passes about it.
            const double r0 = std::round(v.y0), rF = std::round(v.yF), s = v.sentido();
            double subida = 0, entre = 0;
            for (const double parte : {0.1, 0.9}) {
                const double nivel = r0 + parte * (rF - r0);
                const double media = std::floor(nivel - 0.5) + 0.5;
                const auto t = v.cruce(nivel, 1e9), t1 = v.cruce(s > 0 ? media : media + 1, 1e9),
                           t2 = v.cruce(s > 0 ? media + 1 : media, 1e9);
                subida += (parte < 0.5 ? -1 : 1) * t.value_or(NAN);
                entre += t1 && t2 ? *t2 - *t1 : INFINITY;
            }
            figura("rise", f.subida, f.subidaProvisional, subida, 0.1 * subida + 2 * dt + entre);
        }
        if ((f.nota == Nota::ninguna || f.nota == Nota::noSeAjusta) && f.valorFinal) {
            // Where the noise is rounding alone, the whole count the samples end at; noise too
            // small to move a reading two deviations off a half count cannot tell a value
            // that far inside it from the count.
            const double aFinal = l.ruido == 0 ? 0.5 + 1e-9 : std::max(b / 4, 0.5 - 2 * l.ruido);
            figura("final", f.valorFinal, f.finalProvisional, v.yF, aFinal);
            figura("error", f.error, f.finalProvisional, l.setPoints.back().second - v.yF, aFinal);
            const Verdad::Pico pv = v.pico();
            // Whole counts alone: the peak, the final value and the start each read to half a
            // count, so the excess to a count and the step to a count.
            const double sobre = std::max(pv.exceso, 0.0) / amplitud;
            figura("overshoot", f.sobreimpulso, f.picoProvisional, 100 * sobre,
                   2 + (l.ruido == 0 ? 100 * (1 + sobre) / amplitud : 0));
            if (f.tiempoPico && !f.tiempoPicoProvisional && j.falla.empty()
                && (pv.exceso <= 0.05 || (pv.exceso - (v.en(*f.tiempoPico) - v.yF) * v.sentido() > std::max(0.02 * amplitud, 0.3)
                                       && std::abs(*f.tiempoPico - pv.t) > 0.1 * pv.t + 2 * dt)))
                falla("peak time", *f.tiempoPico, pv.exceso > 0 ? pv.t : NAN, ta);
            if (!f.tiempoPico && !f.picoProvisional && f.sobreimpulso && j.falla.empty() && pv.exceso > std::max(0.03 * amplitud, 1 + 2 * l.ruido))
                falla("no peak time", 0, pv.t, ta);
            if (f.establecimiento && !f.establecimientoProvisional && j.falla.empty()) {
                // Whole counts alone: the band about the count the samples settle at, each edge
                // read to half a count.
                const bool enteras = l.ruido == 0;
                const double centro = enteras ? std::round(v.yF) : v.yF, medio = enteras ? 0.5 : 0.0;
                const double be = enteras ? std::max(0.05 * std::abs(centro - std::round(v.y0)), 1.0) : b;
                const double lo = 0.9 * v.establecimiento(1.25 * be + medio, centro) - 2 * dt;
                const double hi = 1.1 * v.establecimiento(0.75 * be - medio, centro) + 2 * dt;
                if (*f.establecimiento < lo || *f.establecimiento > hi)
                    falla("settling", *f.establecimiento, v.establecimiento(b), ta);
            }
            if (l.ruido == 0 && !f.finalProvisional && l.inicio == "reposo" && j.falla.empty()
                && *f.valorFinal != std::round(v.yF) && std::abs(v.yF - std::round(v.yF)) < 0.45)
                falla("clean final", *f.valorFinal, std::round(v.yF), ta);
        }
        if (!ultima || !j.falla.empty())
            continue;
        // At the end, settled long since: every figure final, or a note the truth confirms.
        double fuera = 0, movido = 0;
        for (size_t k = 0; k < v.y.size(); ++k) {
            fuera = std::max({fuera, -0.5 - v.y[k], v.y[k] - 254.5});
            movido = std::max(movido, std::abs(v.y[k] - v.y0));
        }
        const bool familia = l.inicio == "reposo" && !(l.dentro && l.retardo > 0)
                             && ((l.orden == 1 && l.control != 'D') || (l.orden == 2 && l.control == 'P'));
        bool confirmada = false;
        switch (f.nota) {
        case Nota::ninguna:
        case Nota::noSeAjusta: {
            if (f.nota == Nota::noSeAjusta && familia)
                break;
            // Provisional only where the samples do not hold the figure: its noise averaged over
            // the samples that tell it over a fifth of its tolerance.
            const double ruido = std::hypot(l.ruido, 0.29);
            const double subida = *v.cruce(v.y0 + 0.9 * (v.yF - v.y0), 1e9) - *v.cruce(v.y0 + 0.1 * (v.yF - v.y0), 1e9);
            // The peak told by the samples on the top half of its hump; no hump, by those from
            // the 90 % crossing to the settling.
            const Verdad::Pico pv = v.pico();
            const double t90 = *v.cruce(v.y0 + 0.9 * (v.yF - v.y0), 1e9), tB = v.establecimiento(b);
            double enPico = 0;
            for (size_t k = 0; k < v.y.size(); ++k)
                enPico += pv.exceso > 0.02 * amplitud ? (v.y[k] - v.yF) * v.sentido() > pv.exceso / 2
                                                      : double(k) * v.h > t90 && double(k) * v.h < tB;
            const double enTransitorio = std::max(1.0, enPico * v.h * l.tasa);
            // A crossing at `tc` moved by the noise over the loop's slope there, the noise averaged
            // over the samples within `w` about it.
            const auto desvio = [&](double tc, double w) {
                w = std::max(w, dt);
                const double pendiente = std::abs(v.en(tc + w) - v.en(std::max(0.0, tc - w))) / (tc + w - std::max(0.0, tc - w));
                return ruido / (pendiente * std::sqrt(std::max(1.0, 2 * w * l.tasa)));
            };
            // The rise's two crossings, each within a tenth of the rise; the band's last entry
            // within a tenth of the settling.
            const double t10 = *v.cruce(v.y0 + 0.1 * (v.yF - v.y0), 1e9);
            const bool subidaLibre = std::hypot(desvio(t10, 0.1 * subida), desvio(t90, 0.1 * subida)) > (0.1 * subida + 2 * dt) / 5;
            const bool establecimientoLibre = desvio(tB, 0.1 * tB) > (0.1 * tB + 2 * dt) / 5;
            const bool picoLibre = 100 * ruido / (amplitud * std::sqrt(enTransitorio)) > 2.0 / 5;
            std::string falta;
            for (const auto &[que, si] : {std::pair{"final", !f.valorFinal || f.finalProvisional},
                                          {"rise", !f.subida || (f.subidaProvisional && !subidaLibre)},
                                          {"settling", !f.establecimiento || (f.establecimientoProvisional && !establecimientoLibre)},
                                          {"peak", !f.sobreimpulso || (f.picoProvisional && !picoLibre)}})
                falta += si ? std::string(" ") + que : "";
            if (!falta.empty())
                falla(("not final at the end:" + falta).c_str(), f.valorFinal.value_or(NAN), v.yF, ta);
            confirmada = f.nota == Nota::noSeAjusta;
            break;
        }
        case Nota::pequeno: confirmada = std::abs(salto) < std::max(4.0, 6 * l.ruido); break;
        case Nota::sinRespuesta: confirmada = movido < std::max(1.5, 3 * l.ruido); break;
        case Nota::saturada: confirmada = fuera > 0; break;
        default: break;
        }
        if (f.nota != Nota::ninguna && !confirmada)
            falla(("note " + std::to_string(int(f.nota))).c_str(), f.residuo.value_or(NAN), f.ruido, ta);
        j.nota = f.nota != Nota::ninguna;
    }
    return j;
}

// The regions a loop belongs to, for the table.
std::vector<std::string> regiones(const Lazo &l, const Verdad &v)
{
    const char *control = l.control == 'P' ? "P" : l.control == 'I' ? "PI" : "PID";
    const double salto = std::abs(l.setPoints.back().second - l.setPoints[l.setPoints.size() - 2].second);
    return {std::string(control) + " on order " + std::to_string(l.orden),
            l.retardo == 0 ? "no dead time" : l.dentro ? "dead time in the loop" : "dead time on the set point",
            l.ruido == 0 ? "noise: rounding only" : l.ruido < 1 ? "noise under 1" : "noise 1 to 2",
            l.tasa < 10 ? "under 10/s" : l.tasa < 200 ? "10 to 200/s" : "200/s and over",
            l.orden == 2 && l.zeta == 1 ? "plant critically damped" : "plant not critical",
            "start: " + l.inicio,
            v.y0 < 0.5 || v.y0 > 253.5 ? "from a limit" : v.yF < 0.5 || v.yF > 253.5 ? "to a limit" : "inside the range",
            salto < 10 ? "step under 10" : salto < 50 ? "step 10 to 49" : "step 50 and over",
            l.setPoints.back().second > l.setPoints[l.setPoints.size() - 2].second ? "up" : "down"};
}

struct Resultado
{
    int lazos = 0, bien = 0;
    std::vector<std::string> fallas;
};

// `n` loops from `semilla`: prints the table by region and the first failures.
Resultado correr(unsigned semilla, int n, int mostrar = 15)
{
    std::mt19937 g(semilla);
    std::map<std::string, std::array<int, 3>> tabla; // loops, passed, passed on a note
    Resultado res;
    while (res.lazos < n) {
        const std::optional<Caso> c = dibujar(g);
        if (!c)
            continue;
        const Juicio j = juzgar(*c);
        ++res.lazos;
        res.bien += j.falla.empty();
        for (const std::string &region : regiones(c->lazo, c->verdad)) {
            auto &fila = tabla[region];
            ++fila[0];
            fila[1] += j.falla.empty();
            fila[2] += j.falla.empty() && j.nota;
        }
        if (!j.falla.empty()) {
            const Lazo &l = c->lazo;
            char linea[400];
            std::snprintf(linea, sizeof linea,
                          "#%d %s | %c order %d tau %.3g zeta %.3g kp %.3g ti %.3g td %.3g dead %.3g%s "
                          "rate %.4g noise %.2f %d->%d %s",
                          res.lazos - 1, j.falla.c_str(), l.control, l.orden, l.tau, l.zeta, l.kp, l.ti, l.td,
                          l.retardo, l.dentro ? " in" : "", l.tasa, l.ruido,
                          l.setPoints[l.setPoints.size() - 2].second, l.setPoints.back().second,
                          l.inicio.c_str());
            res.fallas.push_back(linea);
        }
    }
    std::printf("%-28s %6s %6s %7s %9s\n", "region", "loops", "passed", "%", "on a note");
    for (const auto &[region, f] : tabla)
        std::printf("%-28s %6d %6d %6.1f%% %8.1f%%\n", region.c_str(), f[0], f[1],
                    100.0 * f[1] / f[0], 100.0 * f[2] / f[0]);
    std::printf("%-28s %6d %6d %6.1f%%\n", "all", res.lazos, res.bien, 100.0 * res.bien / res.lazos);
    for (size_t k = 0; k < res.fallas.size() && int(k) < mostrar; ++k)
        std::printf("  %s\n", res.fallas[k].c_str());
    return res;
}

// Loop `k` of the draw from `semilla`, its figures printed at every question beside the truth.
void trazar(unsigned semilla, int k)
{
    std::mt19937 g(semilla);
    for (int i = 0;;) {
        const std::optional<Caso> c = dibujar(g);
        if (!c || i++ < k)
            continue;
        const Verdad &v = c->verdad;
        const Verdad::Pico p = v.pico();
        const double y10 = v.y0 + 0.1 * (v.yF - v.y0), y90 = v.y0 + 0.9 * (v.yF - v.y0);
        std::printf("truth: from %.4g to %.5g, rise %.4g, overshoot %.4g at %.4g s, settling %.4g; fed %.4g s\n",
                    v.y0, v.yF, *v.cruce(y90, 1e9) - *v.cruce(y10, 1e9),
                    100 * std::max(p.exceso, 0.0) / std::abs(v.yF - v.y0), p.t, v.establecimiento(v.banda()), c->hasta);
        const Juicio j = juzgar(*c, true);
        std::printf("%s\n", j.falla.empty() ? "passed" : j.falla.c_str());
        return;
    }
}

} // namespace barrido
