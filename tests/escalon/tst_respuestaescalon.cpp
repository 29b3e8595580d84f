// The step-response figures on series made here from closed-form responses of linear plants,
// in whole counts, with the noise real loops have; each row states the figures it must give.

#include <cmath>
#include <random>

#include <QPointF>
#include <QTest>

#include "escalon/respuestaescalon.h"

namespace {

constexpr double nd = NAN;      // must be undefined
constexpr double da = INFINITY; // not checked

struct Planta
{
    double zeta = 0, wn = 0, tau = 0; // second order if wn > 0, else first order
    double ganancia = 1;               // settles at ganancia * set point (proportional only)
    double retardo = 0;                // dead time, s
    double s(double t) const // unit step response
    {
        t -= retardo;
        if (t <= 0 || wn <= 0)
            return t <= 0 ? 0 : 1 - std::exp(-t / tau);
        const double r = std::sqrt(1 - zeta * zeta);
        return 1 - std::exp(-zeta * wn * t) / r * std::sin(wn * r * t + std::acos(zeta));
    }
};

// Rise, overshoot (%), settling into ± `banda` (a fraction) of the unit step.
QList<double> analitico(const Planta &p, double banda)
{
    double t10 = -1, t90 = -1, mayor = 0, est = 0;
    for (double t = 0; t < 20; t += 1e-4) {
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

class TstRespuestaEscalon : public QObject
{
    Q_OBJECT

private slots:
    void figuras_data()
    {
        QTest::addColumn<Escalones>("escalones");
        QTest::addColumn<Planta>("planta");
        QTest::addColumn<QList<double>>("ruido"); // samples/s, uniform ±, Gaussian sigma
        QTest::addColumn<bool>("pequeno");
        // rise, overshoot, settling, final value, error; then the rows of steps
        QTest::addColumn<QList<double>>("cifras");

        const Planta z05{0.5, 2}, z04{0.4, 2}, z07p{0.7, 2, 0, 37.0 / 40}, primero{0, 0, 1};
        const QList<double> a05 = analitico(z05, 0.05), a04 = analitico(z04, 0.05);
        const QList<double> a07p = analitico(z07p, 1 / 18.5); // band: 1 count, over 5 %
        const double sube1 = analitico(primero, 0.05)[0];
        QTest::newRow("clean, 180 counts") << Escalones{{-2, 30}, {0, 210}} << z05
            << QList<double>{50, 0, 0} << false << a05 + QList<double>{210, 0, 1};
        QTest::newRow("±1 noise, 40 counts, 50/s") << Escalones{{-2, 20}, {0, 60}} << z04
            << QList<double>{50, 1, 0} << false << a04 + QList<double>{60, 0, 1};
        // Proportional only: settles at 37 for 40, 18.5 for 20; e = r - y = +3.
        QTest::newRow("offset") << Escalones{{-2, 20}, {0, 40}} << z07p
            << QList<double>{50, 0, 0} << false << QList<double>{a07p[0], 0, a07p[2], 37, 3, 1};
        QTest::newRow("offset, σ 0.6") << Escalones{{-2, 20}, {0, 40}} << z07p
            << QList<double>{50, 0, 0.6} << false << QList<double>{a07p[0], da, 2.5, 37, 3, 1};
        QTest::newRow("first order, σ 0.6") << Escalones{{-2, 20}, {0, 60}} << primero
            << QList<double>{50, 0, 0.6} << false << QList<double>{sube1, 0, da, 60, 0, 1};
        // A dead time is no part of the response's course; while it lasts, nothing to measure.
        const Planta muerto{0.4, 2, 0, 1, 3}, sinRespuesta{0.4, 2, 0, 1, 20};
        QTest::newRow("dead time 3 s, ±1 noise") << Escalones{{-2, 20}, {0, 60}} << muerto
            << QList<double>{50, 1, 0} << false << analitico(muerto, 0.05) + QList<double>{60, 0, 1};
        QTest::newRow("no response yet") << Escalones{{-2, 20}, {0, 60}} << sinRespuesta
            << QList<double>{50, 0, 0.6} << false << QList<double>{nd, nd, nd, nd, nd, 1};
        QTest::newRow("1-count step") << Escalones{{-2, 40}, {0, 41}} << primero
            << QList<double>{50, 0, 0} << true << QList<double>{nd, nd, nd, nd, nd, 1};
        // The peak of a step down is its lowest value.
        QTest::newRow("step down") << Escalones{{-2, 60}, {0, 20}} << z04
            << QList<double>{50, 0, 0} << false << a04 + QList<double>{20, 0, 1};
        // The one before is kept, unsettled; this one is measured from its own first sample.
        QTest::newRow("new step before the last settled")
            << Escalones{{-2, 20}, {-1, 60}, {0, 40}} << primero << QList<double>{50, 0, 0}
            << false << QList<double>{da, 0, da, 40, 0, 2};
        // At 30 and rising when the set point goes on from 40 to 60: a first-order plant then
        // follows 60 - 30 e^-t, from this step's first sample.
        QTest::newRow("step while moving")
            << Escalones{{-5, 20}, {-std::log(2.0), 40}, {0, 60}} << primero
            << QList<double>{50, 0, 0} << false << QList<double>{sube1, 0, da, 60, 0, 2};
    }
    void figuras()
    {
        QFETCH(Escalones, escalones);
        QFETCH(Planta, planta);
        QFETCH(QList<double>, ruido);
        QFETCH(QList<double>, cifras);
        RespuestaEscalon r;
        // The set points and the plant's response, by superposition of its unit steps.
        std::mt19937 azar(11);
        std::uniform_real_distribution<double> uniforme(-1, 1);
        std::normal_distribution<double> normal(0, 1);
        double alEscalon = 0; // the value, noiseless, at the step's first sample
        for (long k = std::lround(escalones[0].x() * ruido[0]); k <= (8 + std::min(planta.retardo, 3.0)) * ruido[0]; ++k) {
            const double t = k / ruido[0];
            double y = planta.ganancia * escalones[0].y(), sp = escalones[0].y();
            for (qsizetype i = 1; i < escalones.size() && t >= escalones[i].x() - 1e-9; ++i) {
                y += planta.ganancia * (escalones[i].y() - sp) * planta.s(t - escalones[i].x());
                sp = escalones[i].y();
            }
            alEscalon = k == 0 ? y : alEscalon;
            y += ruido[1] * uniforme(azar) + ruido[2] * normal(azar);
            r.agregar(Reloj::Instante{std::chrono::microseconds(std::llround(t * 1e6) + 9000000)},
                      int16_t(std::lround(y)), int16_t(sp));
        }
        const RespuestaEscalon::Figuras f = r.actual();
        const std::array<std::optional<double>, 5> medidas{
            f.subida, f.sobreimpulso, f.establecimiento, f.valorFinal, f.error};
        QCOMPARE(r.cuantos(), int(cifras[5]));
        QFETCH(bool, pequeno);
        QCOMPARE(f.pequeno, pequeno);
        QCOMPARE(f.hasta, int16_t(escalones.last().y()));
        QVERIFY2(pequeno || std::abs(f.inicial - alEscalon) <= 1, qPrintable(QString::number(f.inicial)));
        // Rise and settling within 10 %, overshoot within 2 points, counts within half a count.
        for (int i = 0; i < 5; ++i) {
            const double tolerancia = i == 1 ? 2.0 : i == 0 || i == 2 ? 0.1 * cifras[i] : 0.5;
            QVERIFY2(std::isinf(cifras[i]) || (std::isnan(cifras[i]) ? !medidas[i]
                     : medidas[i] && std::abs(*medidas[i] - cifras[i]) <= tolerancia),
                     qPrintable(QStringLiteral("figure %1: %2").arg(i).arg(medidas[i].value_or(NAN))));
        }
        if (r.cuantos() > 1) // the step before, cut short, never settled
            QVERIFY(!r.escalon(1).establecimiento && !r.escalon(1).valorFinal);
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
