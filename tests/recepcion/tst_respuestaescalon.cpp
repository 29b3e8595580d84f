// The step-response figures on series made here from closed-form responses of linear plants,
// in whole counts, with the noise real loops have; each row states the figures it must give.

#include <cmath>
#include <functional>
#include <random>

#include <QPointF>
#include <QTest>

#include "recepcion/respuestaescalon.h"

namespace {

constexpr double nd = NAN;      // must be undefined
constexpr double da = INFINITY; // not checked

struct Planta
{
    double zeta = 0, wn = 0, tau = 0; // second order if wn > 0, else first order
    double ganancia = 1;               // settles at ganancia * set point (proportional only)
    // Unit step response.
    double s(double t) const
    {
        if (t <= 0)
            return 0;
        if (wn <= 0)
            return 1 - std::exp(-t / tau);
        const double wd = wn * std::sqrt(1 - zeta * zeta);
        return 1 - std::exp(-zeta * wn * t) / std::sqrt(1 - zeta * zeta)
                       * std::sin(wd * t + std::acos(zeta));
    }
};

// Rise, overshoot (%) and the settling into a band of `banda` (fraction), of the unit step.
struct Analitico
{
    double subida, sobreimpulso, establecimiento;
};
Analitico analitico(const Planta &p, double banda)
{
    double t10 = -1, t90 = -1, mayor = 0, est = 0;
    for (double t = 0; t < 20; t += 1e-4) {
        const double v = p.s(t);
        if (t10 < 0 && v >= 0.1) t10 = t;
        if (t90 < 0 && v >= 0.9) t90 = t;
        mayor = std::max(mayor, v);
        if (std::abs(v - 1) > banda) est = t;
    }
    return {t90 - t10, 100 * (mayor - 1), est};
}

using Escalones = QList<QPointF>; // (time, set point); the first is the level before, at rest

} // namespace
Q_DECLARE_METATYPE(Planta)

class TstRespuestaEscalon : public QObject
{
    Q_OBJECT

    // Feeds the set points and the plant's response, by superposition of its unit steps.
    static void alimentar(RespuestaEscalon &r, const Escalones &e, const Planta &p,
                          double tasa, double fin, double ruidoU, double ruidoG)
    {
        std::mt19937 azar(11);
        std::uniform_real_distribution<double> uniforme(-1, 1);
        std::normal_distribution<double> normal(0, 1);
        const Reloj::Instante base{std::chrono::hours(5)};
        for (long k = std::lround(e.first().x() * tasa); k <= std::lround(fin * tasa); ++k) {
            const double t = k / tasa;
            double y = p.ganancia * e.first().y(), sp = e.first().y();
            for (qsizetype i = 1; i < e.size(); ++i)
                if (t >= e[i].x() - 1e-9) {
                    y += p.ganancia * (e[i].y() - e[i - 1].y()) * p.s(t - e[i].x());
                    sp = e[i].y();
                }
            y += ruidoU * uniforme(azar) + ruidoG * normal(azar);
            r.agregar(base + std::chrono::microseconds(std::llround(t * 1e6)),
                      int16_t(std::lround(y)), int16_t(sp));
        }
    }

    static void cerca(const char *que, const std::optional<double> &v, double esperado,
                      double tolerancia)
    {
        if (std::isinf(esperado))
            return;
        const QByteArray texto = QByteArray(que) + ": " + (v ? QByteArray::number(*v) : "—")
                                 + " for " + QByteArray::number(esperado);
        if (std::isnan(esperado))
            QVERIFY2(!v, texto);
        else
            QVERIFY2(v && std::abs(*v - esperado) <= tolerancia, texto);
    }

private slots:
    void figuras_data()
    {
        QTest::addColumn<Escalones>("escalones");
        QTest::addColumn<Planta>("planta");
        QTest::addColumn<double>("tasa");
        QTest::addColumn<double>("ruidoU"); // uniform, ± counts
        QTest::addColumn<double>("ruidoG"); // Gaussian sigma, counts
        QTest::addColumn<bool>("pequeno");
        QTest::addColumn<double>("subida");
        QTest::addColumn<double>("sobreimpulso");
        QTest::addColumn<double>("establecimiento");
        QTest::addColumn<double>("valorFinal");
        QTest::addColumn<double>("error");
        QTest::addColumn<int>("filas");

        const Planta z05{0.5, 2}, z04{0.4, 2}, z07p{0.7, 2, 0, 37.0 / 40}, primero{0, 0, 1};
        const Analitico a05 = analitico(z05, 0.05), a04 = analitico(z04, 0.05);
        const Analitico a07p = analitico(z07p, 1 / 18.5); // band: 1 count, over 5 %
        const Analitico a1 = analitico(primero, 0.05);
        QTest::newRow("clean, 180 counts") << Escalones{{-2, 30}, {0, 210}} << z05 << 50.0 << 0.0
            << 0.0 << false << a05.subida << a05.sobreimpulso << a05.establecimiento << 210.0
            << 0.0 << 1;
        QTest::newRow("±1 noise, 40 counts, 50/s") << Escalones{{-2, 20}, {0, 60}} << z04 << 50.0
            << 1.0 << 0.0 << false << a04.subida << a04.sobreimpulso << a04.establecimiento
            << 60.0 << 0.0 << 1;
        QTest::newRow("±1 noise, 40 counts, 200/s") << Escalones{{-2, 20}, {0, 60}} << z04
            << 200.0 << 1.0 << 0.0 << false << a04.subida << a04.sobreimpulso
            << a04.establecimiento << 60.0 << 0.0 << 1;
        // Proportional only: settles at 37 for 40, 18.5 for 20; e = r - y = +3.
        QTest::newRow("offset") << Escalones{{-2, 20}, {0, 40}} << z07p << 50.0 << 0.0 << 0.0
            << false << a07p.subida << 0.0 << a07p.establecimiento << 37.0 << 3.0 << 1;
        QTest::newRow("offset, σ 0.6") << Escalones{{-2, 20}, {0, 40}} << z07p << 50.0 << 0.0
            << 0.6 << false << a07p.subida << da << 2.5 << 37.0 << 3.0 << 1;
        QTest::newRow("first order, σ 0.6") << Escalones{{-2, 20}, {0, 60}} << primero << 50.0
            << 0.0 << 0.6 << false << a1.subida << 0.0 << da << 60.0 << 0.0 << 1;
        QTest::newRow("1-count step") << Escalones{{-2, 40}, {0, 41}} << primero << 50.0 << 0.0
            << 0.0 << true << nd << nd << nd << nd << nd << 1;
        // The peak of a step down is its lowest value.
        QTest::newRow("step down") << Escalones{{-2, 60}, {0, 20}} << z04 << 50.0 << 0.0 << 0.0
            << false << a04.subida << a04.sobreimpulso << a04.establecimiento << 20.0 << 0.0
            << 1;
        // The one before is kept unsettled; this one is measured from its own first sample.
        QTest::newRow("new step before the last settled")
            << Escalones{{-2, 20}, {-1, 60}, {0, 40}} << primero << 50.0 << 0.0 << 0.0 << false
            << da << 0.0 << da << 40.0 << 0.0 << 2;
        // At 30 and rising when the set point goes on from 40 to 60: a first-order plant then
        // follows 60 - 30 e^-t, from this step's first sample.
        QTest::newRow("step while moving")
            << Escalones{{-5, 20}, {-std::log(2.0), 40}, {0, 60}} << primero << 50.0 << 0.0
            << 0.0 << false << a1.subida << 0.0 << da << 60.0 << 0.0 << 2;
    }
    void figuras()
    {
        QFETCH(Escalones, escalones);
        QFETCH(Planta, planta);
        QFETCH(double, tasa);
        QFETCH(double, ruidoU);
        QFETCH(double, ruidoG);
        QFETCH(bool, pequeno);
        QFETCH(int, filas);
        RespuestaEscalon r;
        alimentar(r, escalones, planta, tasa, 8, ruidoU, ruidoG);
        const RespuestaEscalon::Figuras f = r.actual();
        qDebug("rise %.3f overshoot %.1f %% settling %.3f final %.2f error %+.2f (%+.1f %%)",
               f.subida.value_or(NAN), f.sobreimpulso.value_or(NAN),
               f.establecimiento.value_or(NAN), f.valorFinal.value_or(NAN),
               f.error.value_or(NAN), f.errorPorciento.value_or(NAN));
        QCOMPARE(r.cuantos(), filas);
        QCOMPARE(f.pequeno, pequeno);
        QCOMPARE(f.desde, int16_t(escalones.at(escalones.size() - 2).y()));
        QCOMPARE(f.hasta, int16_t(escalones.last().y()));
        QFETCH(double, subida);
        cerca("rise", f.subida, subida, 0.1 * subida);
        QFETCH(double, sobreimpulso);
        cerca("overshoot", f.sobreimpulso, sobreimpulso, 2.0);
        QFETCH(double, establecimiento);
        cerca("settling", f.establecimiento, establecimiento, 0.1 * establecimiento);
        QFETCH(double, valorFinal);
        cerca("final value", f.valorFinal, valorFinal, 0.5);
        QFETCH(double, error);
        cerca("error", f.error, error, 0.5);
        if (f.sobreimpulso > 0) { // at the furthest point in the step's direction
            const double amplitud = *f.valorFinal - f.inicial;
            cerca("peak", f.pico, *f.valorFinal + amplitud * *f.sobreimpulso / 100, 1e-9);
        }
        if (filas > 1) { // the step before, cut short, never settled
            const RespuestaEscalon::Figuras antes = r.escalon(1);
            QCOMPARE(antes.hasta, int16_t(escalones.at(escalones.size() - 2).y()));
            QVERIFY(!antes.establecimiento && !antes.valorFinal);
        }
    }

    // Unknown till the controller reports it, and again after each opening of the port: the
    // set point seen then is where the loop was, not a step.
    void setPointDesconocido()
    {
        RespuestaEscalon r;
        Reloj::Instante t{std::chrono::hours(1)};
        const auto muestras = [&](int n, std::optional<int16_t> sp) {
            for (int i = 0; i < n; ++i)
                r.agregar(t += std::chrono::milliseconds(20), 40, sp);
        };
        muestras(5, std::nullopt);
        muestras(5, 40);
        QCOMPARE(r.cuantos(), 0);
        muestras(5, 60);
        QCOMPARE(r.cuantos(), 1);
        r.olvidarSetPoint();
        muestras(5, 20); // the controller was changed while the port was closed
        QCOMPARE(r.cuantos(), 1);
        QCOMPARE(r.actual().hasta, int16_t(60));
        muestras(5, std::nullopt);
        muestras(5, 30);
        QCOMPARE(r.cuantos(), 1);
    }

    // The last ten steps, newest first, each once.
    void ultimosDiez()
    {
        RespuestaEscalon r;
        Reloj::Instante t{std::chrono::hours(1)};
        for (int16_t sp = 10; sp <= 130; sp += 10)
            for (int i = 0; i < 3; ++i)
                r.agregar(t += std::chrono::milliseconds(20), 40, sp);
        QCOMPARE(r.cuantos(), RespuestaEscalon::escalonesGuardados);
        for (int i = 0; i < r.cuantos(); ++i) {
            QCOMPARE(r.escalon(i).hasta, int16_t(130 - 10 * i));
            QCOMPARE(r.escalon(i).desde, int16_t(120 - 10 * i));
        }
    }
};

QTEST_GUILESS_MAIN(TstRespuestaEscalon)
#include "tst_respuestaescalon.moc"
