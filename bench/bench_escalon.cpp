// The step-response figures over a seeded draw of 5,000 loops (the suite's own sweep, larger),
// judged against each loop's response integrated apart from the code: the table of passes by
// region. Then the fit of a full record and the receive path, timed. Asserts nothing.
//   bench_escalon [loops [seed [failures shown]]]
//   bench_escalon traza seed loop: one loop's figures at every question, beside its truth

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "escalon/ajuste.h"
#include "escalon/respuestaescalon.h"
#include "escalon/barrido.h"

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


} // namespace

int main(int argc, char **argv)
{
    if (argc > 3 && std::string(argv[1]) == "traza") {
        barrido::trazar(unsigned(std::atoi(argv[2])), std::atoi(argv[3]));
        return 0;
    }
    const int lazos = argc > 1 ? std::atoi(argv[1]) : 5000;
    const unsigned semilla = argc > 2 ? unsigned(std::atoi(argv[2])) : 35;
    const auto a = std::chrono::steady_clock::now();
    barrido::correr(semilla, lazos, argc > 3 ? std::atoi(argv[3]) : 40);
    std::printf("sweep of %d loops: %.1f s\n", lazos,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    const auto y04 = [](double t) { return segundoOrden(0.4, 2.0, t); };
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
        cronometrar("fit of a full record, us", 41, [&] { ajustar(p); });
        const std::vector<double> antes(256, 20.0);
        cronometrar("all its figures, us", 41, [&] {
            medirEscalon({20, 60, base, antes.data(), int(antes.size()), &g, false});
        });
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
