// Cursors A and B on the live trend: their figures against a plain computation over the
// samples between them, for windows drawn at random (seeded); the arrows move the one last
// touched by one sample; a drag takes the nearest sample; they stay on their samples as the
// trend slides.

#include <chrono>
#include <cmath>
#include <map>
#include <random>

#include <QTest>

#include "chart/cursores.h"
#include "chart/graficotendencia.h"
#include "chart/ventanamuestras.h"

class TstCursores : public QObject
{
    Q_OBJECT

private slots:
    void alAzar()
    {
        std::mt19937 g(37);
        std::map<QString, int> fallos, casos;
        for (int k = 0; k < 200; ++k) {
            VentanaMuestras ventana;
            const int puntos = 101 + int(g() % 2000);
            ventana.llenar(int16_t(puntos));
            GraficoTendencia grafico(ventana);
            std::vector<int> dato, sp;
            std::vector<int64_t> ns;
            int64_t t = int64_t(g() % 1000000) * 1000000;
            const int n = 1 + int(g() % 3000);
            for (int i = 0; i < n; ++i) {
                t += 500000 + int64_t(g() % 100000000); // 0.5 ms to 100 ms
                dato.push_back(g() % 10 == 0 ? (g() % 2 ? 0 : 254) : int(g() % 255));
                sp.push_back(i < 5 ? VentanaMuestras::sinSetPoint : int(g() % 101));
                ns.push_back(t);
                ventana.agregarMuestra(int16_t(dato.back()), int16_t(sp.back()), t);
                ventana.recortarVentana(int16_t(puntos));
            }
            // Sample numbers still on show.
            const uint64_t primero = uint64_t(std::max(0, n - puntos));
            const uint64_t a = primero + g() % (uint64_t(n) - primero);
            const uint64_t b = primero + g() % (uint64_t(n) - primero);
            grafico.cursores().setVisible(true);
            grafico.cursores().poner(0, a);
            grafico.cursores().poner(1, b);
            const QString region = QStringLiteral("%1%2").arg(n > puntos ? "full" : "filling").arg(a > b ? ", B before A" : "");
            ++casos[region];
            const auto f = grafico.figurasCursores();
            const uint64_t i0 = std::min(a, b), i1 = std::max(a, b);
            double media = 0, mediaSp = 0, var = 0;
            int minimo = 255, maximo = -1, conSp = 0;
            for (uint64_t i = i0; i <= i1; ++i) {
                media += dato[i];
                minimo = std::min(minimo, dato[i]);
                maximo = std::max(maximo, dato[i]);
                if (sp[i] != VentanaMuestras::sinSetPoint) {
                    mediaSp += sp[i];
                    ++conSp;
                }
            }
            media /= double(i1 - i0 + 1);
            for (uint64_t i = i0; i <= i1; ++i)
                var += (dato[i] - media) * (dato[i] - media);
            const double dt = (ns[b] - ns[a]) / 1e9;
            const bool bien = f && f->n == i1 - i0 + 1 && f->minimo == minimo && f->maximo == maximo
                              && std::abs(f->media() - media) < 1e-9
                              && (i1 == i0 || std::abs(*f->desviacion() - std::sqrt(var / double(i1 - i0))) < 1e-9)
                              && std::abs((f->tB - f->tA) - dt) < 1e-9 && f->valorB - f->valorA == dato[b] - dato[a]
                              && (conSp == 0 ? !f->mediaSetPoint() : std::abs(*f->mediaSetPoint() - mediaSp / conSp) < 1e-9)
                              && (i1 == i0 || std::abs(*f->espaciado() - std::abs(dt) / double(i1 - i0)) < 1e-9);
            if (!bien) {
                ++fallos[region];
                qWarning("%s: a %llu b %llu of %d", qPrintable(region), (unsigned long long)a,
                         (unsigned long long)b, n);
            }
        }
        for (const auto &[region, n] : fallos)
            qWarning("%s: %d of %d wrong", qPrintable(region), n, casos[region]);
        QVERIFY(fallos.empty());
    }

    // The arrows move the one last touched; a drag takes the sample nearest the mouse; new
    // samples slide the trend and the cursors with their samples.
    void mover()
    {
        VentanaMuestras ventana;
        ventana.llenar(200);
        GraficoTendencia grafico(ventana);
        grafico.resize(600, 300);
        grafico.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grafico));
        for (int i = 0; i < 300; ++i) {
            ventana.agregarMuestra(int16_t(i % 200), 10, int64_t(i) * 1000000);
            ventana.recortarVentana(200);
        }
        grafico.redibujar();
        Cursores &c = grafico.cursores();
        c.setVisible(true);
        c.poner(0, 150);
        c.poner(1, 250);
        grafico.setFocus();
        QTest::keyClick(&grafico, Qt::Key_Left);
        QCOMPARE(*c.indice(1), 249u);
        QCOMPARE(*c.indice(0), 150u);
        // Sample 150 sits in row 150 - (300 - 200) + 1 = 51: drag A from there to row 101.
        grafico.replot();
        const auto px = [&](double fila) { return QPoint(qRound(grafico.xAxis->coordToPixel(fila)), 150); };
        QCOMPARE(c.x(0), 51.0);
        QTest::mousePress(&grafico, Qt::LeftButton, {}, px(51));
        QMouseEvent mover(QEvent::MouseMove, QPointF(px(101)), grafico.mapToGlobal(QPointF(px(101))),
                          Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&grafico, &mover);
        QTest::mouseRelease(&grafico, Qt::LeftButton, {}, px(101));
        QCOMPARE(*c.indice(0), 200u);
        QTest::keyClick(&grafico, Qt::Key_Right);
        QCOMPARE(*c.indice(0), 201u);
        // Ten more samples: A's sample is ten rows further left.
        for (int i = 300; i < 310; ++i) {
            ventana.agregarMuestra(1, 10, int64_t(i) * 1000000);
            ventana.recortarVentana(200);
        }
        grafico.redibujar();
        QCOMPARE(c.x(0), 92.0);
        QCOMPARE(grafico.figurasCursores()->n, 249u - 201u + 1);
        // What the plot shows under it: A on 201 (value 1), B on 249 (value 49), 1 ms apart.
        QCOMPARE(grafico.lineaCursores().section(u' ', 0, 5),
                 QStringLiteral("Δt %1 s  Δ 48").arg(QLocale().toString(0.048, 'f', 3)));
        // 200 more: both samples have gone; the cursors wait at the oldest row.
        for (int i = 310; i < 510; ++i) {
            ventana.agregarMuestra(1, 10, int64_t(i) * 1000000);
            ventana.recortarVentana(200);
        }
        grafico.redibujar();
        QCOMPARE(*c.indice(0), 310u);
        QCOMPARE(c.x(1), 1.0);
        // A sample of now: «Copiar» gives its time of day, the wall clock's.
        const int64_t ahora = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch()).count();
        ventana.agregarMuestra(7, 10, ahora);
        ventana.recortarVentana(200);
        grafico.redibujar();
        c.poner(1, 510);
        const QString formato = QLocale().timeFormat(QLocale::LongFormat).remove(u't').trimmed();
        const QString linea = grafico.textoCursores().section(u'\n', 1, 1);
        const QDateTime reloj = QDateTime::currentDateTime();
        QVERIFY2(linea.contains(QLocale().toString(reloj.time(), formato).left(5))
                     || linea.contains(QLocale().toString(reloj.addSecs(-60).time(), formato).left(5)),
                 qPrintable(linea));
    }
};

QTEST_MAIN(TstCursores)
#include "tst_cursores.moc"
