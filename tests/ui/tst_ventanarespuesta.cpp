// «Respuesta al escalón»: each caption beside its own figure, figures that follow the loop
// while on show, the table as a spreadsheet reads it, and the way to it from the trend.

#include <cmath>

#include <QFormLayout>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTest>
#include <qcustomplot.h>

#include "chart/graficotendencia.h"
#include "escalon/respuestaescalon.h"
#include "ui/form1.h"
#include "respuesta/ventanarespuesta.h"

namespace {

// A second-order loop (zeta 0.4) under proportional control, 50 samples/s, from 37/40 of
// `desde` to 37/40 of `hasta`: every figure differs from the others.
void escalon(RespuestaEscalon &r, Reloj::Instante &t, int desde, int hasta, double segundos)
{
    const double c = std::sqrt(1 - 0.16);
    for (int k = 0; k < segundos * 50; ++k) {
        const double u = 1 - std::exp(-0.8 * k / 50) / c * std::sin(2 * c * k / 50 + std::acos(0.4));
        r.agregar(t += std::chrono::milliseconds(20),
                  int16_t(std::lround(37.0 / 40 * (desde + (hasta - desde) * u))), int16_t(hasta));
    }
}

QString campo(const QWidget &w, const QString &rotulo)
{
    const QFormLayout *f = w.findChild<QFormLayout *>();
    for (int fila = 0; fila < f->rowCount(); ++fila)
        if (qobject_cast<QLabel *>(f->itemAt(fila, QFormLayout::LabelRole)->widget())->text() == rotulo)
            return qobject_cast<QLabel *>(f->itemAt(fila, QFormLayout::FieldRole)->widget())->text();
    return QStringLiteral("(no caption)");
}

} // namespace

class TstVentanaRespuesta : public QObject
{
    Q_OBJECT

private slots:
    void rotulos_data()
    {
        QTest::addColumn<QString>("rotulo");
        QTest::addColumn<QString>("texto");
        RespuestaEscalon r;
        Reloj::Instante t{std::chrono::hours(2)};
        escalon(r, t, 20, 20, 1);
        escalon(r, t, 20, 40, 6);
        const RespuestaEscalon::Figuras f = r.actual();
        // Settled long since: every figure final, one number of decimals a column.
        QVERIFY(!f.finalProvisional && !f.establecimientoProvisional && !f.picoProvisional);
        // Whole counts and no noise: the samples' own figures, worked out from the samples
        // apart from the code (from 19 to 37; 42 from 1.58 s to 1.86 s; 36 to 38 from 2.50 s;
        // 20.8 and 35.2 crossed 0.728 s apart).
        QTest::newRow("step") << "Escalón" << "20 → 40";
        QTest::newRow("rise") << "Subida (s)" << "0.728";
        QTest::newRow("peak") << "Valor de pico (cuentas)" << "42.0";
        QTest::newRow("overshoot") << "Sobreimpulso (%)" << "27.8";
        QTest::newRow("peak time") << "Tiempo de pico (s)" << "1.720";
        QTest::newRow("band") << "Banda (cuentas)" << "± 1.0"; // 5 % of 18 is under a count
        QTest::newRow("settling") << "Establecimiento (s)" << "2.500";
        QTest::newRow("final value") << "Valor final (cuentas)" << "37.0";
        QTest::newRow("error") << "Error (cuentas)" << "+3.0";
        QTest::newRow("error %") << "Error (%)" << "+15.0";
        QTest::newRow("period") << "Periodo (s)" << "—";
    }
    // Each caption beside its own figure, and the figures follow the loop while on show.
    void rotulos()
    {
        QFETCH(QString, rotulo);
        QFETCH(QString, texto);
        RespuestaEscalon r;
        Reloj::Instante t{std::chrono::hours(2)};
        escalon(r, t, 20, 20, 1);
        VentanaRespuesta w(r, nullptr);
        w.show();
        QCOMPARE(w.findChild<QLabel *>(QStringLiteral("lblEstado"))->text(),
                 QStringLiteral("Aún no se ha visto ningún escalón del set point."));
        escalon(r, t, 20, 40, 6);
        QTRY_COMPARE(campo(w, rotulo), texto);
        // The plot marks the final value and the band the figures were measured against.
        const QCustomPlot *g = w.findChild<QCustomPlot *>(QStringLiteral("graficoEscalon"));
        const RespuestaEscalon::Figuras f = r.actual();
        QTRY_COMPARE(g->graph(4)->data()->size(), 2);
        QCOMPARE(g->graph(4)->data()->at(1)->value, *f.valorFinal);
        QCOMPARE(g->graph(6)->data()->at(0)->value, *f.valorFinal - *f.banda);
        // And the fitted response over the samples: at the last one, the model's value there.
        const QCPGraphDataContainer &modelo = *g->graph(8)->data();
        QVERIFY(modelo.size() > 100);
        QCOMPARE(modelo.at(modelo.size() - 1)->value, f.modelo->valor(modelo.at(modelo.size() - 1)->key));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    // While the step runs, what it may still leave is shown as provisional: in grey, with «≈»;
    // the same figure, once it has held long enough, as final.
    void provisionalEnGris()
    {
        RespuestaEscalon r;
        Reloj::Instante t{std::chrono::hours(2)};
        escalon(r, t, 20, 20, 1);
        escalon(r, t, 20, 40, 4.2);
        QVERIFY(r.actual().establecimientoProvisional);
        VentanaRespuesta w(r, nullptr);
        w.show();
        const auto valor = [&](const QString &rotulo) {
            const QFormLayout *f = w.findChild<QFormLayout *>();
            for (int fila = 0; fila < f->rowCount(); ++fila)
                if (qobject_cast<QLabel *>(f->itemAt(fila, QFormLayout::LabelRole)->widget())->text() == rotulo)
                    return qobject_cast<QLabel *>(f->itemAt(fila, QFormLayout::FieldRole)->widget());
            return static_cast<QLabel *>(nullptr);
        };
        QLabel *est = valor(QStringLiteral("Establecimiento (s)"));
        QTRY_VERIFY(est->text().startsWith(QStringLiteral("≈ ")));
        // Drawn so: the grey text's darkest pixel well lighter than the final one's.
        const auto masOscuro = [](QLabel *l) {
            const QImage imagen = l->grab().toImage();
            int menor = 255;
            for (int y = 0; y < imagen.height(); ++y)
                for (int x = 0; x < imagen.width(); ++x)
                    menor = std::min(menor, qGray(imagen.pixel(x, y)));
            return menor;
        };
        const int gris = masOscuro(est);
        QCOMPARE(est->palette().color(QPalette::WindowText), w.palette().color(QPalette::Disabled, QPalette::WindowText));
        Reloj::Instante mas = t;
        for (int k = 0; k < 200; ++k) // the same level, held
            r.agregar(mas += std::chrono::milliseconds(20), 37, 40);
        QVERIFY(!r.actual().establecimientoProvisional);
        QTRY_VERIFY(!est->text().startsWith(u'≈'));
        QVERIFY2(gris > masOscuro(est) + 40, qPrintable(QStringLiteral("%1 %2").arg(gris).arg(masOscuro(est))));
        QCOMPARE(est->palette().color(QPalette::WindowText), w.palette().color(QPalette::WindowText));
    }

    // Steps told apart by their time, undefined figures as empty cells, provisional ones said,
    // a step cut short by the next said, times with the same decimals in every row.
    void copiar()
    {
        // Steps made 10 s ago: each row's time of day is the local one, read off the wall
        // clock here, the step 40 -> 20 coming 0.5 s after the other.
        const QDateTime ahora = QDateTime::currentDateTime();
        RespuestaEscalon r;
        Reloj::Instante t = std::chrono::steady_clock::now() - std::chrono::seconds(10);
        escalon(r, t, 20, 20, 1);
        escalon(r, t, 20, 40, 0.5); // cut short: never settles
        escalon(r, t, 40, 20, 8);
        const QStringList lineas = VentanaRespuesta(r, nullptr).textoTabla().split(u'\n');
        QCOMPARE(lineas.size(), 4);
        const QStringList nuevo = lineas[1].split(u'\t'), viejo = lineas[2].split(u'\t');
        for (const auto &[fila, ms] : {std::pair{nuevo, -8480}, std::pair{viejo, -8980}}) {
            const QTime hora = QTime::fromString(fila[0], QStringLiteral("HH:mm:ss.zzz"));
            QVERIFY2(std::abs(hora.msecsTo(ahora.addMSecs(ms).time())) <= 5, qPrintable(fila[0]));
        }
        QCOMPARE(viejo[1], QStringLiteral("20 → 40"));
        QCOMPARE(viejo[8], QString()); // no final value
        QVERIFY2(viejo[3].endsWith(QStringLiteral(" (provisional)")), qPrintable(viejo[3]));
        QVERIFY2(viejo.last().endsWith(QStringLiteral("cortado antes de establecerse")), qPrintable(viejo.last()));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d\\d$")).match(nuevo[2]).hasMatch(),
                 qPrintable(nuevo[2]));
    }

    // Beside the trend, on a 1400 x 900 screen, a 500 x 400 window.
    void posicionLibre_data()
    {
        QTest::addColumn<QRect>("tendencia");
        QTest::addColumn<QPoint>("esperada");
        QTest::newRow("right") << QRect(0, 0, 600, 400) << QPoint(600, 0);
        QTest::newRow("left only") << QRect(700, 100, 600, 400) << QPoint(200, 100);
        QTest::newRow("no room: the widest side") << QRect(300, 100, 1000, 700) << QPoint(0, 100);
    }
    void posicionLibre()
    {
        QFETCH(QRect, tendencia);
        QFETCH(QPoint, esperada);
        QCOMPARE(VentanaRespuesta::posicionLibre(tendencia, {500, 400}, {0, 0, 1400, 900}), esperada);
    }

    // «Respuesta al escalón…» in the trend's own menu opens the window.
    void desdeElMenu()
    {
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QTimer::singleShot(50, [] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            for (QAction *a : menu->actions())
                if (a->text() == QStringLiteral("Respuesta al escalón…"))
                    menu->setActiveAction(a);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent clic(QContextMenuEvent::Mouse, {20, 20}, f.MSChart1->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(f.MSChart1, &clic);
        QVERIFY(f.ventanaRespuesta && f.ventanaRespuesta->isVisible());
    }
};

QTEST_MAIN(TstVentanaRespuesta)
#include "tst_ventanarespuesta.moc"
