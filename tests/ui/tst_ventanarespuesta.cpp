// «Respuesta al escalón»: each caption beside its own figure, figures that follow the loop
// while on show, the table as a spreadsheet reads it, and the way to it from the trend.

#include <cmath>

#include <QFormLayout>
#include <QLabel>
#include <QMenu>
#include <QRandomGenerator>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
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
        // apart from the code (from 19 to 37; 42 from 1.58 s to 1.86 s), crossings read where
        // the readings pass from count to count (38.5 at 2.49 s, 37.5 at 2.67 s: into 36 to 38
        // at 2.58 s), so 20.8 and 35.2 are crossed 0.704 s apart, as by the loop itself.
        QTest::newRow("step") << "Escalón" << "20 → 40";
        QTest::newRow("rise") << "Subida (s)" << "0.704";
        QTest::newRow("peak") << "Valor de pico (cuentas)" << "42.0";
        QTest::newRow("overshoot") << "Sobreimpulso (%)" << "27.8";
        QTest::newRow("peak time") << "Tiempo de pico (s)" << "1.720";
        QTest::newRow("band") << "Banda (cuentas)" << "± 1.0"; // 5 % of 18 is under a count
        QTest::newRow("settling") << "Establecimiento (s)" << "2.580";
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

    // Steps told apart by their time and where they came from, undefined figures as empty
    // cells, provisional ones said, a step cut short by the next said, times with the same
    // decimals in every row and the language's decimal separator, as a spreadsheet reads them.
    void copiar()
    {
        QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
        // Steps made 10 s ago: each row's time of day is the local one, read off the wall
        // clock here, the step 40 -> 20 coming 0.5 s after the other, from another port.
        const QDateTime ahora = QDateTime::currentDateTime();
        RespuestaEscalon r;
        Reloj::Instante t = std::chrono::steady_clock::now() - std::chrono::seconds(10);
        r.setOrigen(QStringLiteral("/dev/ttyUSB0"));
        escalon(r, t, 20, 20, 1);
        escalon(r, t, 20, 40, 0.5); // cut short: never settles
        r.setOrigen(QStringLiteral("/dev/ttyUSB1"));
        escalon(r, t, 40, 20, 8);
        const QStringList lineas = VentanaRespuesta(r, nullptr).textoTabla().split(u'\n');
        QLocale::setDefault(QLocale::c());
        QCOMPARE(lineas.size(), 4);
        const QStringList titulos = lineas[0].split(u'\t');
        const QStringList nuevo = lineas[1].split(u'\t'), viejo = lineas[2].split(u'\t');
        const auto col = [&](const char *titulo) { return titulos.indexOf(QString::fromUtf8(titulo)); };
        for (const auto &[fila, ms] : {std::pair{nuevo, -8480}, std::pair{viejo, -8980}}) {
            const QTime hora = QTime::fromString(fila[col("Hora")], QStringLiteral("HH:mm:ss,zzz"));
            QVERIFY2(hora.isValid() && std::abs(hora.msecsTo(ahora.addMSecs(ms).time())) <= 5,
                     qPrintable(fila[col("Hora")]));
        }
        QCOMPARE(nuevo[col("Origen")], QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(viejo[col("Origen")], QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(viejo[col("Escalón")], QStringLiteral("20 → 40"));
        QCOMPARE(viejo[col("Valor final (cuentas)")], QString());
        const QString pico = viejo[col("Valor de pico (cuentas)")];
        QVERIFY2(pico.endsWith(QStringLiteral(" (provisional)")), qPrintable(pico));
        QVERIFY2(viejo.last().endsWith(QStringLiteral("cortado antes de establecerse")), qPrintable(viejo.last()));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+,\\d\\d\\d$")).match(nuevo[col("Subida (s)")]).hasMatch(),
                 qPrintable(nuevo[col("Subida (s)")]));
        // The noise the residual is judged against, beside it.
        QCOMPARE(col("Ruido (cuentas)"), col("Residuo (cuentas)") + 1);
        QVERIFY(!nuevo[col("Ruido (cuentas)")].isEmpty());
    }

    // Beside the panel, over a seeded draw of screens (a laptop's to a 4K one, a second screen
    // left or right of the first), panels anywhere on them and windows of any size: the
    // window all on the screen, at least its minimum, whole where a side has room for it,
    // off the panel wherever a side has room for its minimum, else over its plot alone
    // where that has room for it.
    void sitioLibre()
    {
        QRandomGenerator azar(20261209);
        const auto entre = [&](int a, int b) { return int(azar.bounded(a, b + 1)); };
        QMap<QString, int> fallos;
        const int n = 4000;
        for (int i = 0; i < n; ++i) {
            const QRect pantalla(entre(-1, 1) * 1920, entre(0, 1) * 40, entre(800, 3840), entre(600, 2160));
            const QSize pan(entre(300, std::min(1400, pantalla.width())), entre(200, std::min(1000, pantalla.height())));
            const QRect panel(entre(pantalla.left(), pantalla.right() + 1 - pan.width()),
                              entre(pantalla.top(), pantalla.bottom() + 1 - pan.height()), pan.width(), pan.height());
            const QSize minimo(entre(150, 400), entre(200, 500));
            const QSize tamano(entre(minimo.width(), 900), entre(minimo.height(), 1300));
            // The panel's plot, between its rows of controls above and below.
            const QRect trazo = panel.adjusted(entre(0, 20), entre(20, 120), -entre(0, 20), -entre(20, 80));
            const QRect r = VentanaRespuesta::sitioLibre(panel, tamano, minimo, pantalla, trazo);
            const QSize cabe = tamano.boundedTo(pantalla.size());
            const int derecha = pantalla.right() - panel.right(), izquierda = panel.left() - pantalla.left();
            const int abajo = pantalla.bottom() - panel.bottom(), arriba = panel.top() - pantalla.top();
            const bool entero = std::max(derecha, izquierda) >= cabe.width() || std::max(abajo, arriba) >= cabe.height();
            const bool libre = std::max(derecha, izquierda) >= minimo.width() || std::max(abajo, arriba) >= minimo.height();
            const QString region = entero ? QStringLiteral("whole on a side") : libre ? QStringLiteral("narrowed") : QStringLiteral("no room");
            if (!pantalla.contains(r))
                ++fallos[region + QStringLiteral(": off the screen")];
            if (r.width() < std::min(minimo.width(), pantalla.width()) || r.height() < std::min(minimo.height(), pantalla.height()))
                ++fallos[region + QStringLiteral(": below its minimum")];
            if (r.width() > cabe.width() || r.height() > cabe.height())
                ++fallos[region + QStringLiteral(": larger than asked")];
            if (entero && r.size() != cabe)
                ++fallos[region + QStringLiteral(": not whole")];
            if (libre && r.intersects(panel))
                ++fallos[region + QStringLiteral(": over the panel")];
            // Narrowed, to the widest room a side has for it.
            int mayor = 0;
            for (const auto &[sitio, falta] : {std::pair{derecha, minimo.width()}, {izquierda, minimo.width()},
                                               {abajo, minimo.height()}, {arriba, minimo.height()}})
                if (sitio >= falta)
                    mayor = std::max(mayor, sitio);
            if (!entero && libre && r.width() != mayor && r.height() != mayor)
                ++fallos[region + QStringLiteral(": not the widest room")];
            const QRect sobre = trazo.intersected(pantalla);
            if (sobre.width() >= minimo.width() && sobre.height() >= minimo.height()
                && !trazo.contains(r.intersected(panel)) && r.intersects(panel))
                ++fallos[region + QStringLiteral(": over the panel's controls")];
        }
        for (auto it = fallos.cbegin(); it != fallos.cend(); ++it)
            qWarning("%s: %d of %d", qPrintable(it.key()), it.value(), n);
        QVERIFY(fallos.isEmpty());
    }

    // Placed so on the panel's own screen, and titled with the panel's port.
    void juntoAlPanel()
    {
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.mostrarRespuestaEscalon();
        VentanaRespuesta *w = f.ventanaRespuesta;
        const QRect pantalla = f.screen()->availableGeometry(), panel = f.frameGeometry();
        QVERIFY(pantalla.contains(w->frameGeometry()));
        const QSize minimo = w->minimumSizeHint();
        if (pantalla.right() - panel.right() >= minimo.width() || panel.left() - pantalla.left() >= minimo.width()
            || pantalla.bottom() - panel.bottom() >= minimo.height() || panel.top() - pantalla.top() >= minimo.height())
            QVERIFY(!w->frameGeometry().intersects(panel));
        QCOMPARE(w->windowTitle(), QStringLiteral("Respuesta al escalón"));
        w->setOrigen(QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Respuesta al escalón — /dev/ttyUSB0"));
    }

    // A note that wraps, the status line coming and going: the tabs stay where they were.
    void pestanasQuietas()
    {
        RespuestaEscalon r;
        Reloj::Instante t{std::chrono::hours(2)};
        escalon(r, t, 20, 20, 1);
        VentanaRespuesta w(r, nullptr);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto *pestanas = w.findChild<QTabWidget *>(QStringLiteral("pestanas"));
        const auto arriba = [&] {
            w.layout()->activate();
            return pestanas->tabBar()->mapTo(&w, QPoint(0, 0)).y();
        };
        const int antes = arriba();
        escalon(r, t, 20, 40, 6); // the status line goes, figures come
        w.actualizar();
        QCOMPARE(arriba(), antes);
        const QFormLayout *formulario = w.findChild<QFormLayout *>();
        auto *nota = qobject_cast<QLabel *>(formulario->itemAt(formulario->rowCount() - 1, QFormLayout::FieldRole)->widget());
        nota->setText(QString(QStringLiteral("el modelo no se ajusta; ")).repeated(12));
        QCOMPARE(arriba(), antes);
    }

    // The plot's key: each kind of line once, named.
    void leyenda()
    {
        RespuestaEscalon r;
        VentanaRespuesta w(r, nullptr);
        const QCustomPlot *g = w.findChild<QCustomPlot *>(QStringLiteral("graficoEscalon"));
        QVERIFY(g->legend->visible());
        QStringList nombres;
        for (int i = 0; i < g->legend->itemCount(); ++i) // a grid: some cells are empty
            if (auto *item = qobject_cast<QCPPlottableLegendItem *>(g->legend->item(i)))
                nombres << item->plottable()->name();
        nombres.sort();
        QCOMPARE(nombres, (QStringList{"10 % y 90 %", "Banda", "Modelo", "Pico", "Set point", "Valor", "Valor final"}));
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
