// The step-response figures on responses whose figures are known in closed form, in whole
// counts with the noise a real loop has. Prints measured against analytic; asserts nothing.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "escalon/ajuste.h"
#include "escalon/respuestaescalon.h"

namespace {

// Second-order unit step response, underdamped.
double segundoOrden(double zeta, double wn, double t)
{
    if (t <= 0)
        return 0;
    const double wd = wn * std::sqrt(1 - zeta * zeta);
    return 1 - std::exp(-zeta * wn * t) / std::sqrt(1 - zeta * zeta)
                   * std::sin(wd * t + std::acos(zeta));
}

struct Analitico
{
    double subida, sobreimpulso, establecimiento;
};

Analitico analitico(const std::function<double(double)> &y, double hastaT)
{
    double t10 = -1, t90 = -1, mayor = 0, est = 0;
    for (double t = 0; t < hastaT; t += 1e-5) {
        const double v = y(t);
        if (t10 < 0 && v >= 0.1) t10 = t;
        if (t90 < 0 && v >= 0.9) t90 = t;
        mayor = std::max(mayor, v);
        if (std::abs(v - 1) > 0.05) est = t;
    }
    return {t90 - t10, 100 * std::max(0.0, mayor - 1), est};
}

// Feeds `antes` s at the old level then the response to a step of set point r0 -> r1 whose
// value goes from y0 to y0 + (y1 - y0) * y(t); noise: uniform +-u or Gaussian sigma g.
RespuestaEscalon::Figuras medir(double tasa, int16_t r0, int16_t r1, double y0, double y1,
                                const std::function<double(double)> &y, double u, double g,
                                double antes = 2, double despues = 8, unsigned semilla = 7,
                                RespuestaEscalon *fuera = nullptr)
{
    RespuestaEscalon propia;
    RespuestaEscalon &r = fuera ? *fuera : propia;
    std::mt19937 azar(semilla);
    std::uniform_real_distribution<double> uniforme(-u, u);
    std::normal_distribution<double> normal(0, g > 0 ? g : 1);
    const Reloj::Instante base{std::chrono::hours(1)};
    const int n0 = int(antes * tasa), n1 = int(despues * tasa);
    for (int k = -n0; k < n1; ++k) {
        const double t = k / tasa;
        double v = y0 + (y1 - y0) * y(t);
        if (u > 0) v += uniforme(azar);
        if (g > 0) v += normal(azar);
        const auto instante = base + std::chrono::microseconds(std::llround(t * 1e6));
        r.agregar(instante, int16_t(std::clamp(std::lround(v), 0L, 254L)),
                  k < 0 ? r0 : r1);
    }
    return r.actual();
}

double o(const std::optional<double> &v) { return v ? *v : NAN; }

// Median and range of `veces` timings of `f`, in microseconds.
void cronometrar(const char *que, int veces, const std::function<void()> &f)
{
    std::vector<double> us;
    for (int i = 0; i < veces; ++i) {
        const auto a = std::chrono::steady_clock::now();
        f();
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - a).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("%-46s %9.3f (%.3f-%.3f)\n", que, us[us.size() / 2], us.front(), us.back());
}

void imprimir(const char *caso, const RespuestaEscalon::Figuras &f, const Analitico &a)
{
    std::printf("%-34s rise %6.3f (%6.3f)  overshoot %5.1f (%5.1f) %%  settling %6.3f (%6.3f)"
                "  peak %5.1f  final %5.1f  error %+5.2f (%+5.1f %%)%s\n",
                caso, o(f.subida), a.subida, o(f.sobreimpulso), a.sobreimpulso,
                o(f.establecimiento), a.establecimiento,
                o(f.pico), o(f.valorFinal), o(f.error), o(f.errorPorciento),
                f.pequeno ? "  too small" : "");
}

} // namespace

int main()
{
    const auto y04 = [](double t) { return segundoOrden(0.4, 2.0, t); };
    const Analitico a04 = analitico(y04, 8);
    for (double tasa : {10.0, 25.0, 50.0, 100.0, 200.0, 500.0, 1920.0}) {
        char caso[64];
        std::snprintf(caso, sizeof caso, "zeta 0.4, 20->60, +-1 unif, %g/s", tasa);
        imprimir(caso, medir(tasa, 20, 60, 20, 60, y04, 1.0, 0), a04);
    }
    // A dead time: the same figures, those timed from the step 0.3 s later.
    const auto retardado = [&](double t) { return y04(t - 0.3); };
    imprimir("zeta 0.4, dead time 0.3 s, 50/s", medir(50, 20, 60, 20, 60, retardado, 1.0, 0),
             analitico(retardado, 8));
    // A long dead time (3 s) before a lightly damped loop, and the figures while it runs.
    const auto y02 = [](double t) { return segundoOrden(0.2, 3.0, t - 3.0); };
    imprimir("zeta 0.2, dead time 3 s, 25/s, s 1", medir(25, 20, 60, 20, 60, y02, 0, 1, 2, 14),
             analitico(y02, 14));
    imprimir("  the same 1.5 s after the step", medir(25, 20, 60, 20, 60, y02, 0, 1, 2, 1.5),
             analitico(y02, 14));
    // Proportional only: settles at 37 for 40, from 18.5 at 20.
    const auto y07 = [](double t) { return segundoOrden(0.7, 2.0, t); };
    const Analitico a07 = analitico(y07, 8);
    imprimir("P only, 20->40 settles 37, s 0.6", medir(50, 20, 40, 18.5, 37, y07, 0, 0.6), a07);
    std::printf("  (expected error +3 counts, final value 37)\n");
    const auto y1o = [](double t) { return t <= 0 ? 0.0 : 1 - std::exp(-t / 1.0); };
    imprimir("first order tau 1, 20->60, s 0.6", medir(50, 20, 60, 20, 60, y1o, 0, 0.6),
             analitico(y1o, 8));
    // The same step four times on the demo's loop (10/s, Gaussian 0.6): overshoot and settling
    // against the noiseless response's, each time, and no period.
    const auto y06 = [](double t) { return segundoOrden(0.6, 1.5, t); };
    const Analitico a06 = analitico(y06, 20);
    for (unsigned semilla = 1; semilla <= 4; ++semilla) {
        const RespuestaEscalon::Figuras f = medir(10, 20, 40, 20, 40, y06, 0, 0.6, 20, 20, semilla);
        std::printf("demo loop, run %u: overshoot %5.1f (%4.1f) %%  settling %6.3f (%6.3f)  period %s\n",
                    semilla, o(f.sobreimpulso), a06.sobreimpulso, o(f.establecimiento),
                    a06.establecimiento, f.periodo ? "shown" : "none");
    }
    // A first-order plant (tau 4 s, Gaussian 1.5) 20 -> 60: 9 counts short at 5.96 s, then late.
    const auto y4 = [](double t) { return t <= 0 ? 0.0 : 1 - std::exp(-t / 4.0); };
    const Analitico a4 = analitico(y4, 60);
    for (const double despues : {5.96, 40.0}) {
        const RespuestaEscalon::Figuras f = medir(10, 20, 60, 20, 60, y4, 0, 1.5, 20, despues);
        std::printf("first order tau 4, s 1.5, %5.2f s in: final %5.1f%s  settling %6.3f%s (%6.3f)"
                    "  error %+5.2f%s\n", despues, o(f.valorFinal), f.finalProvisional ? " provisional" : "",
                    o(f.establecimiento), f.establecimientoProvisional ? " provisional" : "",
                    a4.establecimiento, o(f.error), f.finalProvisional ? " provisional" : "");
    }
    // Clean whole counts (zeta 0.4, 20 -> 40, 50/s): the samples' own settling into 39..41.
    {
        const RespuestaEscalon::Figuras f = medir(50, 20, 40, 20, 40, y04, 0, 0, 2, 8);
        double propio = 0;
        for (int k = 0; k < 400; ++k)
            if (std::abs(std::lround(20 + 20 * y04(k / 50.0)) - 40) > 1)
                propio = (k + 1) / 50.0;
        std::printf("clean counts, zeta 0.4, 20->40, 50/s: settling %6.3f (samples %6.3f)  final %5.2f\n",
                    o(f.establecimiento), propio, o(f.valorFinal));
    }
    // Ten minutes at 1920/s: the start and the rise kept; then the fit of its full record.
    {
        RespuestaEscalon r;
        const RespuestaEscalon::Figuras f = medir(1920, 20, 60, 20, 60, y04, 1.0, 0, 2, 600, 7, &r);
        std::printf("10 min at 1920/s: start %6.2f (20)  rise %6.3f (%6.3f)  overshoot %5.1f (%5.1f) %%"
                    "  points %d\n", f.inicial, o(f.subida), a04.subida, o(f.sobreimpulso),
                    a04.sobreimpulso, r.registro().puntos());
    }
    // The fit of a full record: the same step at 1920/s fed till its record holds 2048 points.
    {
        RespuestaEscalon r;
        std::mt19937 azar(3);
        std::uniform_real_distribution<double> uniforme(-1, 1);
        const Reloj::Instante base{std::chrono::hours(1)};
        for (long k = -10; r.registro().puntos() < RegistroEscalon::capacidad; ++k)
            r.agregar(base + std::chrono::microseconds(k * 521),
                      int16_t(std::lround(20 + 40 * y04(k * 521e-6) + uniforme(azar))),
                      int16_t(k < 0 ? 20 : 60));
        const RegistroEscalon &g = r.registro();
        std::vector<double> v(size_t(g.puntos()));
        for (int i = 0; i < g.puntos(); ++i)
            v[size_t(i)] = std::max(1.0 / 3 / g.cuentas()[i], 1.0 / 12);
        const Puntos p{g.tiempos(), g.valores(), v.data(), g.puntos()};
        std::printf("full record: %d points over %.1f s\n", g.puntos(), g.ultimo());
        cronometrar("fit of a full record, us", 41, [&] { ajustar(p, std::nullopt); });
        const std::optional<Modelo> previo = ajustar(p, std::nullopt)->modelo;
        cronometrar("the same from the last fit, us", 41, [&] { ajustar(p, previo); });
    }
    // The receive path: a sample into a running step, 10 million of them at 1920/s.
    cronometrar("10M samples into a step, us", 5, [] {
        RespuestaEscalon r;
        const Reloj::Instante base{std::chrono::hours(1)};
        for (int k = 0; k < 10000000; ++k)
            r.agregar(base + std::chrono::microseconds(int64_t(k) * 521), int16_t(k % 50),
                      int16_t(k < 10 ? 20 : 40));
    });
    // The first report after connecting, at a loop already at 40: unknown till then.
    {
        RespuestaEscalon r;
        const Reloj::Instante base{std::chrono::hours(1)};
        for (int k = 0; k < 200; ++k)
            r.agregar(base + std::chrono::milliseconds(20 * k), 40,
                      k < 3 ? std::nullopt : std::optional<int16_t>(40));
        std::printf("first report after connecting: %d step row(s)\n", r.cuantos());
    }
}
