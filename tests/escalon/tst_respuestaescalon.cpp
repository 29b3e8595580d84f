// The step-response figures: over a seeded sweep of loops judged against their integrated
// response (barrido.h), and on rows the sweep does not reach (long records, a runaway, swings
// that hold, steps of a count, the demo's own loop), made here from closed forms.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <vector>

#include <QPointF>
#include <QTest>

#include "escalon/ajuste.h"
#include "escalon/barrido.h"
#include "escalon/respuestaescalon.h"

namespace {

using Nota = RespuestaEscalon::Nota;
constexpr double nd = NAN;      // must be undefined (or provisional, where the row says so)
constexpr double da = INFINITY; // not checked

struct Planta
{
    double zeta = 0, wn = 0, tau = 0; // second order if wn > 0, else first order
    double ganancia = 1;               // settles at ganancia * set point (proportional only)
    double retardo = 0;                // dead time, s
    double rampa = 0;                  // counts/s added from the step on: a runaway
    double seno = 0, periodo = 1;      // a swing that holds, riding on the response
    double s(double t) const // unit step response
    {
        t -= retardo;
        if (t <= 0 || wn <= 0)
            return t <= 0 ? 0 : 1 - std::exp(-t / tau);
        if (zeta == 1)
            return 1 - std::exp(-wn * t) * (1 + wn * t);
        const double r = std::sqrt(1 - zeta * zeta);
        return 1 - std::exp(-zeta * wn * t) / r * std::sin(wn * r * t + std::acos(zeta));
    }
};

// Rise, overshoot (%), settling into ± `banda` (a fraction) of the unit step.
QList<double> analitico(const Planta &p, double banda)
{
    double t10 = -1, t90 = -1, mayor = 0, est = 0;
    for (double t = 0; t < 60; t += 1e-4) {
        const double v = p.s(t);
        t10 = t10 < 0 && v >= 0.1 ? t : t10;
        t90 = t90 < 0 && v >= 0.9 ? t : t90;
        mayor = std::max(mayor, v);
        est = std::abs(v - 1) > banda ? t : est;
    }
    return {t90 - t10, 100 * (mayor - 1), est};
}

using Escalones = QList<QPointF>; // (time, set point); the first is the level before, at rest

} // namespace
Q_DECLARE_METATYPE(Planta)
Q_DECLARE_METATYPE(RespuestaEscalon::Nota)

class TstRespuestaEscalon : public QObject
{
    Q_OBJECT

private slots:
    void figuras_data()
    {
        QTest::addColumn<Escalones>("escalones");
        QTest::addColumn<Planta>("planta");
        // samples/s, uniform ±, Gaussian sigma, seconds after the last step
        QTest::addColumn<QList<double>>("ruido");
        QTest::addColumn<Nota>("nota");
        // rise, overshoot, settling, final value, error; the rows of steps; times' tolerance
        QTest::addColumn<QList<double>>("cifras");

        const Planta z04{0.4, 2}, primero{0, 0, 1};
        const QList<double> a04 = analitico(z04, 0.05);
        // Clean whole counts, at two rates: the samples' own overshoot and peak time, exactly
        // (-1: worked out from them here), the rise within 2 % of the loop's (the sweep judges
        // the settling, which whole counts leave between the band's edges widened and narrowed).
        for (const double tasa : {50.0, 20.0})
            QTest::addRow("clean whole counts, %g/s", tasa) << Escalones{{-2, 20}, {0, 36}} << z04
                << QList<double>{tasa, 0, 0, 8} << Nota::ninguna << QList<double>{a04[0], -1, da, 36, 0, 1, 0.02};
        // Ten minutes at the line rate: the record thins, its start and rise stay.
        QTest::newRow("10 min at 1920/s") << Escalones{{-1, 20}, {0, 60}} << z04
            << QList<double>{1920, 1, 0, 600} << Nota::ninguna << a04 + QList<double>{60, 0, 1, 0.02};
        // And the step after it starts a record of its own, at full resolution again.
        QTest::newRow("a step after 10 min at 1920/s") << Escalones{{-1, 20}, {0, 60}, {600, 20}}
            << z04 << QList<double>{1920, 1, 0, 608} << Nota::ninguna << a04 + QList<double>{20, 0, 2, 0.02};
        // What the model cannot stand for: the samples' own rise and peak, never an end.
        QTest::newRow("ramp") << Escalones{{-2, 20}, {0, 40}} << Planta{0.7, 3, 0, 1, 0, 6}
            << QList<double>{20, 0, 0.6, 15} << Nota::rampa << QList<double>{da, nd, nd, nd, nd, 1};
        QTest::newRow("undamped swing") << Escalones{{-2, 20}, {0, 40}} << Planta{0, 2}
            << QList<double>{20, 0, 0.6, 15} << Nota::sinAmortiguar << QList<double>{da, nd, nd, nd, nd, 1};
        // A swing of a count and a half that holds, riding on a well-damped step: said, with its
        // period.
        QTest::newRow("small swing on a step") << Escalones{{-2, 20}, {0, 60}} << Planta{0.6, 2, 0, 1, 0, 0, 1.5, 2.5}
            << QList<double>{20, 0, 0.6, 30} << Nota::sinAmortiguar << QList<double>{da, nd, nd, nd, nd, 1};
        QTest::newRow("1-count step") << Escalones{{-2, 40}, {0, 41}} << primero
            << QList<double>{50, 0, 0, 8} << Nota::pequeno << QList<double>{nd, nd, nd, nd, nd, 1};
    }
    void figuras()
    {
        QFETCH(Escalones, escalones);
        QFETCH(Planta, planta);
        QFETCH(QList<double>, ruido);
        QFETCH(Nota, nota);
        QFETCH(QList<double>, cifras);
        RespuestaEscalon r;
        // The set points and the plant's response, by superposition of its unit steps.
        std::mt19937 azar(11 + int(escalones[0].x()));
        std::uniform_real_distribution<double> uniforme(-1, 1);
        std::normal_distribution<double> normal(0, 1);
        // Their highest value with the middle of its run.
        const double y0 = escalones[escalones.size() - 2].y(), y1 = cifras[3];
        double pico = -1, picoDesde = 0, picoHasta = 0;
        for (long k = std::lround(escalones[0].x() * ruido[0]); k <= ruido[3] * ruido[0]; ++k) {
            const double t = k / ruido[0];
            double y = planta.ganancia * escalones[0].y(), sp = escalones[0].y();
            for (qsizetype i = 1; i < escalones.size() && t >= escalones[i].x() - 1e-9; ++i) {
                y += planta.ganancia * (escalones[i].y() - sp) * planta.s(t - escalones[i].x());
                sp = escalones[i].y();
            }
            y += planta.rampa * std::max(t, 0.0) + ruido[1] * uniforme(azar) + ruido[2] * normal(azar)
                 + planta.seno * std::sin(2 * M_PI * t / planta.periodo);
            const long dato = std::clamp(std::lround(y), 0L, 254L);
            picoHasta = dato == pico ? t : picoHasta;
            if (dato > pico)
                pico = dato, picoDesde = picoHasta = t;
            r.agregar(Reloj::Instante{std::chrono::microseconds(std::llround(t * 1e6) + 9000000)},
                      int16_t(dato), int16_t(sp));
        }
        const RespuestaEscalon::Figuras f = r.actual();
        QCOMPARE(r.cuantos(), int(cifras[5]));
        QCOMPARE(f.nota, nota);
        QCOMPARE(f.pequeno, nota == Nota::pequeno);
        QCOMPARE(f.hasta, int16_t(escalones.last().y()));
        // The start exactly where the loop was: whole counts at rest, the noise averaged out.
        if (nota == Nota::ninguna)
            QVERIFY2(std::abs(f.inicial - planta.ganancia * escalones[escalones.size() - 2].y()) <= 0.5,
                     qPrintable(QString::number(f.inicial)));
        // Rise and settling within a fifth, overshoot within 2 points, counts within half a
        // count; the samples' own overshoot exactly. Undefined: absent, or marked provisional.
        const std::array<std::optional<double>, 5> medidas{
            f.subida, f.sobreimpulso, f.establecimiento, f.valorFinal, f.error};
        const std::array<bool, 5> provisional{f.subidaProvisional, f.picoProvisional,
                                              f.establecimientoProvisional, f.finalProvisional,
                                              f.finalProvisional};
        const double propio = 100 * (pico - y1) / (y1 - y0);
        if (cifras[1] == -1)
            QCOMPARE(f.tiempoPico.value_or(NAN), (picoDesde + picoHasta) / 2);
        for (int i = 0; i < 5; ++i) {
            const double esperada = cifras[i] == -1 ? propio : cifras[i];
            const double tolerancia = cifras[i] == -1 ? 1e-9 : i == 1 ? 2.0 : i == 0 || i == 2 ? cifras.value(6, 0.2) * esperada : 0.5;
            QVERIFY2(std::isinf(esperada) || (std::isnan(esperada) ? !medidas[i] || provisional[i]
                     : medidas[i] && !provisional[i] && std::abs(*medidas[i] - esperada) <= tolerancia),
                     qPrintable(QStringLiteral("figure %1: %2 for %3").arg(i).arg(medidas[i].value_or(NAN)).arg(esperada)));
        }
        QCOMPARE(bool(f.periodo), nota == Nota::sinAmortiguar);
        if (f.periodo)
            QVERIFY(std::abs(*f.periodo - (planta.seno > 0 ? planta.periodo : 2 * M_PI / planta.wn)) < 0.05);
        if (r.cuantos() > 1) // the step before, cut short or settled
            QCOMPARE(r.escalon(1).cortado, !r.escalon(1).valorFinal || r.escalon(1).finalProvisional);
    }

    // The sweep: every loop's figures within their tolerance of its integrated response, or a
    // note it confirms; printed by region.
    void barrido()
    {
        // Unoptimised and instrumented, each loop costs some twenty times more: the draw's
        // first loops only, so the suite stays within its time there.
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
        const int lazos = 40;
        const double piso = 0.85; // a few loops either way on so few
#else
        const int lazos = 300;
        const double piso = 0.91;
#endif
        const barrido::Resultado r = barrido::correr(35, lazos);
        // The aim is 99 %; this is where the analysis stands, so a change that loses ground shows.
        QVERIFY2(r.bien >= piso * r.lazos, qPrintable(QStringLiteral("%1 of %2").arg(r.bien).arg(r.lazos)));
    }

    // A long record whose response is over in its first few hundredths: the fit's starts and
    // its doubt, on points merged to a few, must still see the rise and the first swing. Over
    // a seeded draw of second-order loops with noise, the fitted rise within 10 % and the
    // overshoot within two points of the closed form's, printed by damping where not.
    void ajusteDeRegistroLargo()
    {
        std::mt19937 azar(11);
        std::uniform_real_distribution<double> u(0, 1);
        std::normal_distribution<double> ruido(0, 1);
        std::map<QString, std::pair<int, int>> regiones; // loops, failed
        QStringList fallas;
        int conCero = 0; // fits that took a zero the loop has not
        for (int k = 0; k < 80; ++k) {
            const double zeta = 0.15 + 0.85 * u(azar), wn = 2 * std::numbers::pi, amplitud = 40 + 100 * u(azar);
            const double largo = (30 + 170 * u(azar)) / wn; // s, many times the rise
            const int n = 2000;
            std::vector<double> t(n), y(n), v(n, 1.0);
            const double wd = wn * std::sqrt(1 - zeta * zeta);
            const auto paso = [&](double s) {
                return s <= 0 ? 0 : 1 - std::exp(-zeta * wn * s) / std::sqrt(1 - zeta * zeta) * std::sin(wd * s + std::acos(zeta));
            };
            for (int i = 0; i < n; ++i) {
                t[size_t(i)] = largo * i / (n - 1);
                y[size_t(i)] = 20 + amplitud * paso(t[size_t(i)]) + ruido(azar);
            }
            // The closed form's rise and overshoot.
            double t10 = -1, t90 = -1;
            for (double s = 0; t90 < 0; s += 1e-5) {
                t10 = t10 < 0 && paso(s) >= 0.1 ? s : t10;
                t90 = paso(s) >= 0.9 ? s : t90;
            }
            const double sobre = 100 * std::exp(-zeta * std::numbers::pi / std::sqrt(1 - zeta * zeta));
            const std::optional<Ajuste> a = ajustar({t.data(), y.data(), v.data(), n});
            const Modelo::Forma f = a ? a->modelo.forma() : Modelo::Forma{};
            conCero += a && a->modelo.cero != 0;
            const bool bien = f.t10 && f.t90 && std::abs(*f.t90 - *f.t10 - (t90 - t10)) <= 0.1 * (t90 - t10)
                              && std::abs(100 * f.sobrepaso - sobre) <= 2;
            auto &fila = regiones[zeta < 0.5 ? "zeta under 0.5" : "zeta 0.5 and over"];
            ++fila.first;
            fila.second += !bien;
            if (!bien)
                fallas << QStringLiteral("zeta %1 over %2 s: rise %3 for %4, overshoot %5 for %6")
                              .arg(zeta).arg(largo).arg(f.t10 && f.t90 ? *f.t90 - *f.t10 : NAN).arg(t90 - t10)
                              .arg(100 * f.sobrepaso).arg(sobre);
        }
        for (const auto &[region, fila] : regiones)
            std::printf("%-20s %3d loops, %3d failed\n", qPrintable(region), fila.first, fila.second);
        QVERIFY2(fallas.isEmpty(), qPrintable(fallas.join('\n')));
        // The simplest model the samples support: a zero only where it takes off more than the
        // noise would by chance, which a threshold of four in chi-square allows one fit in twenty.
        // The fit without it does not always reach its minimum: this is where it stands.
        std::printf("%d of 80 fits with a zero\n", conCero);
        QVERIFY2(conCero <= 16, qPrintable(QString::number(conCero)));
    }

    // scripts/run.sh's loop as the simulator runs it (a first-order plant of 2.5 s under PI,
    // Euler at 10/s, noise σ 0.6), set point 20 and 30 in turn every 20 s: ten steps up read
    // the noiseless loop's overshoot, rises within 12 % of each other, final values, final,
    // within a quarter band of 30; and a step replayed as the log window does (times to the
    // millisecond) reads the same figures.
    void bucleDeLaDemo()
    {
        struct Lazo
        {
            double y = 30, integral = 30 / 0.9;
            double muestra(double r)
            {
                integral = std::clamp(integral + (r - y) * 0.1, -400.0, 400.0);
                y += 0.1 / 2.5 * (std::clamp(1.2 * (r - y) + 0.9 * integral, 0.0, 254.0) - y);
                return y;
            }
        } ruidoso, limpio;
        // Each step's figures as the next one comes, on the loop's noise drawn from `semilla`.
        RespuestaEscalon r;
        std::vector<std::pair<double, int16_t>> registro;
        double mayor = 0;
        QList<RespuestaEscalon::Figuras> subidas, todos;
        const auto correr = [&](unsigned semilla) {
            std::mt19937 azar(semilla);
            std::normal_distribution<double> ruido(0, 0.6);
            r = RespuestaEscalon();
            registro.clear();
            subidas.clear();
            todos.clear();
            ruidoso = limpio = Lazo();
            for (int k = 0; k < 4400; ++k) {
                const int16_t sp = (k / 200) % 2 ? 20 : 30;
                if (k >= 400 && k < 600)
                    mayor = std::max(mayor, limpio.muestra(sp));
                else
                    limpio.muestra(sp);
                const int16_t dato = int16_t(std::lround(ruidoso.muestra(sp) + ruido(azar)));
                r.agregar(Reloj::Instante{std::chrono::milliseconds(100 * k + 3)}, dato, sp);
                registro.push_back({k * 0.1, dato});
                if (k % 200 == 0 && k > 200)
                    (sp == 20 ? subidas : todos) << r.escalon(1);
            }
            todos << subidas;
        };
        // Over several draws, no overshoot shown final more than its tolerance from the
        // noiseless loop's, up or down; the rises spread no more than the samples leave them
        // (a fit of this shape through this noise: 3.3 % at the least).
        double suma = 0, suma2 = 0;
        int subidasFinales = 0;
        for (unsigned semilla = 1; semilla <= 6; ++semilla) {
            correr(semilla);
            for (const RespuestaEscalon::Figuras &f : todos) {
                QVERIFY2(f.picoProvisional || !f.sobreimpulso || std::abs(*f.sobreimpulso - 10 * (mayor - 30)) <= 2,
                         qPrintable(QString::number(*f.sobreimpulso)));
                if (f.subida && !f.subidaProvisional) {
                    ++subidasFinales;
                    suma += *f.subida;
                    suma2 += *f.subida * *f.subida;
                }
            }
        }
        const double media = suma / subidasFinales, dispersion = std::sqrt(suma2 / subidasFinales - media * media) / media;
        std::printf("%d rises: mean %.3f s, spread %.1f %%\n", subidasFinales, media, 100 * dispersion);
        QVERIFY2(subidasFinales >= 100 && dispersion <= 0.036, qPrintable(QString::number(dispersion)));
        correr(12345);
        QCOMPARE(subidas.size(), 10);
        // Through σ 0.6 on a 10-count step the overshoot is known to about a point (it stays
        // provisional); printed beside the noiseless loop's. Nine in ten steps at least read a
        // final value.
        double lo = INFINITY, hi = 0;
        int conModelo = 0;
        for (const RespuestaEscalon::Figuras &f : subidas) {
            if (f.nota != Nota::ninguna || f.finalProvisional)
                continue;
            ++conModelo;
            QVERIFY2(std::abs(*f.valorFinal - 30) <= *f.banda / 4, qPrintable(QString::number(*f.valorFinal)));
            std::printf("demo step: overshoot %.1f%s (noiseless %.1f), rise %.3f%s\n", *f.sobreimpulso,
                        f.picoProvisional ? " provisional" : "", 10 * (mayor - 30), *f.subida,
                        f.subidaProvisional ? " provisional" : "");
            lo = std::min(lo, *f.subida);
            hi = std::max(hi, *f.subida);
        }
        QVERIFY2(conModelo >= 9, qPrintable(QString::number(conModelo)));
        // Within 12 %: the aim is 10.
        QVERIFY2(hi <= 1.12 * lo, qPrintable(QStringLiteral("%1 to %2").arg(lo).arg(hi)));
        // The last step up, from the log: the samples before it and its own, then the next.
        RespuestaEscalon log;
        for (int k = 3800; k < 4200; ++k)
            log.agregar(Reloj::Instante{std::chrono::microseconds(100000 * k + 3500)}, registro[size_t(k)].second,
                        int16_t((k / 200) % 2 ? 20 : 30));
        log.terminar();
        const RespuestaEscalon::Figuras a = log.actual(), b = subidas.last();
        QCOMPARE(a.cortado, b.cortado);
        for (const auto &[x, y] : {std::pair{a.subida, b.subida}, {a.sobreimpulso, b.sobreimpulso},
                                   {a.establecimiento, b.establecimiento}, {a.valorFinal, b.valorFinal}})
            QVERIFY2(x && y && std::abs(*x - *y) < 0.002, qPrintable(QStringLiteral("%1 for %2").arg(*x).arg(*y)));
    }

    // Unknown till the controller reports it, and again after each opening of the port: the
    // set point seen then is where the loop was, not a step. And the last ten steps, newest
    // first, each once.
    void setPointDesconocidoYUltimosDiez()
    {
        RespuestaEscalon r;
        Reloj::Instante t{std::chrono::hours(1)};
        using Sp = std::optional<int16_t>;
        for (const Sp sp : {Sp(), Sp(40)})
            r.agregar(t += std::chrono::milliseconds(20), 40, sp);
        QCOMPARE(r.cuantos(), 0);
        r.agregar(t, 40, 50);
        r.olvidarSetPoint(); // the step's samples end where the port closed
        r.agregar(t += std::chrono::minutes(5), 40, 10);
        QCOMPARE(r.registro().muestras(), 1);
        for (int16_t sp = 10; sp <= 130; sp += 10) {
            for (int i = 0; i < 3; ++i)
                r.agregar(t += std::chrono::milliseconds(20), 40, sp);
            if (sp == 30) // 40 -> 50, then 10 -> 20 and 20 -> 30: 50 -> 10 across the gap is none
                QCOMPARE(r.cuantos(), 3);
        }
        QCOMPARE(r.cuantos(), RespuestaEscalon::escalonesGuardados);
        for (int i = 0; i < r.cuantos(); ++i)
            QCOMPARE(r.escalon(i).desde * 100 + r.escalon(i).hasta, (120 - 10 * i) * 101 + 10);
    }
};

QTEST_GUILESS_MAIN(TstRespuestaEscalon)
#include "tst_respuestaescalon.moc"
