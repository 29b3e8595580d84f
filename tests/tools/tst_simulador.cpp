#include <cmath>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "chart/graficotendencia.h"
#include "core/variablesventana.h"
#include "serial/puertoserie.h"
#include "ui/avisos.h"
#include "ui/form1.h"
#include "ui/ventanarespuesta.h"
#include "hasta.h"
#include "recepcion/adquisicion.h"

class TstSimulador : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

    // Starts the simulator and waits for its link to the pseudo-terminal.
    bool arrancar(QProcess &sim, const QStringList &opciones, QString *enlace)
    {
        *enlace = dir_.filePath(QStringLiteral("controlador-%1")
                                    .arg(QString::fromLatin1(QTest::currentTestFunction())));
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(SIMULADOR), QStringList{"--enlace", *enlace} + opciones);
        return sim.waitForReadyRead(5000) && QFileInfo(*enlace).isSymLink();
    }
    static void conectar(Form1 &f, const QString &puerto)
    {
        f.txtPuerto->setText(puerto);
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    }

private slots:
    void reproduccionDecodificada()
    {
        QProcess sim;
        QString enlace;
        // Split by pauses into separate receive events, the marker alone at an event's end.
        QVERIFY(arrancar(sim, {"--reproducir", "10,255,40|12,255|7,3", "--espera", "300",
                               "--pausa", "100"},
                         &enlace));
        Form1 f;
        conectar(f, enlace);
        QVERIFY(f.MSComm1->PortOpen());
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("3"));
        const VentanaMuestras &v = f.ventana;
        QCOMPARE(v.fila(510).dato, 10);
        QCOMPARE(v.fila(510).setPoint, 0);
        QCOMPARE(v.fila(511).dato, 12);
        QCOMPARE(v.fila(511).setPoint, 40);
        QCOMPARE(v.fila(512).dato, 3);
        QCOMPARE(v.fila(512).setPoint, 7);
        QCOMPARE(v.fila(509).dato, 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(enlace) && !QFileInfo(enlace).isSymLink());
    }

    void setPointSigueLoEnviado()
    {
        QProcess sim;
        QString enlace;
        QVERIFY(arrancar(sim, {"--tasa", "100", "--setpoint", "30", "--alternar", "-1"}, &enlace));
        Form1 f;
        conectar(f, enlace);
        QVERIFY(f.MSComm1->PortOpen());
        QTRY_COMPARE(f.variables.setPoint, int16_t(30)); // reported now and then
        f.txtSetPoint->setText(QStringLiteral("150")); // 100 goes on the wire
        f.btnEnviar->click();
        QCOMPARE(f.variables.setPoint, int16_t(100));
        // Its plant heads for the new set point.
        QTRY_VERIFY_WITH_TIMEOUT(f.ventana.fila(512).dato > 60, 10000);
        QCOMPARE(f.avisos().mostrados(), QStringList());
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    // The demo as it starts: the controller's defaults stay inside the window's first Y axis,
    // overshoot and noise included, so nothing sits on its top edge or is clipped off.
    void porDefectoDentroDelEje()
    {
        QProcess sim;
        QString enlace;
        QVERIFY(arrancar(sim, {"--tasa", "200"}, &enlace)); // the plant's own pace: seconds
        Form1 f;
        conectar(f, enlace);
        QVERIFY(f.MSComm1->PortOpen());
        const double techo = f.MSChart1->valueScale().Maximum;
        int mayor = 0;
        QElapsedTimer reloj;
        reloj.start();
        while (reloj.elapsed() < 10000) { // past the step response's peak
            QTest::qWait(250);
            for (int fila = 1; fila <= f.ventana.RowCount(); ++fila)
                mayor = std::max({mayor, int(f.ventana.fila(fila).dato),
                                  int(f.ventana.fila(fila).setPoint)});
        }
        QCOMPARE(f.variables.setPoint, int16_t(30));
        QVERIFY2(mayor > 25 && mayor < techo, qPrintable(QString::number(mayor)));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    // The figures of a step, from the panel fed by the simulator's second-order plant through
    // the pty, against the plant's closed-form step response.
    void respuestaAlEscalon_data()
    {
        QTest::addColumn<int>("tasa");
        QTest::newRow("50 samples/s") << 50;
        QTest::newRow("200 samples/s") << 200;
    }
    void respuestaAlEscalon()
    {
        QFETCH(int, tasa);
        const double zeta = 0.5, wn = 2.0;
        const int16_t desde = 30, hacia = 210; // 180 counts: quantisation is 0.3 % of it
        QProcess sim;
        QString enlace;
        QVERIFY(arrancar(sim, {"--tasa", QString::number(tasa), "--setpoint", "30",
                               "--alternar", "210", "--periodo", "6", "--planta-2o", "0.5,2"},
                         &enlace));
        Form1 f;
        conectar(f, enlace);
        QVERIFY(f.MSComm1->PortOpen());
        const RespuestaEscalon &r = f.adquisicion().respuesta();
        // Until the next step, 6 s on, so the steady state is reached too.
        QVERIFY(hasta([&] { return r.actual().desde == hacia; }));
        const RespuestaEscalon::Figuras e = r.escalon(1);
        QCOMPARE(e.desde, desde);
        QCOMPARE(e.hasta, hacia);

        // y(t) = 1 - exp(-zeta wn t) / sqrt(1 - zeta^2) sin(wd t + acos zeta), per unit step.
        const double wd = wn * std::sqrt(1 - zeta * zeta);
        const auto y = [&](double t) {
            return 1 - std::exp(-zeta * wn * t) / std::sqrt(1 - zeta * zeta)
                           * std::sin(wd * t + std::acos(zeta));
        };
        const double tPico = M_PI / wd;
        const double sobreimpulso = 100 * (y(tPico) - 1);
        const auto cuando = [&](double nivel) { // rising, before the peak
            double a = 0, b = tPico;
            for (int i = 0; i < 60; ++i)
                (y((a + b) / 2) < nivel ? a : b) = (a + b) / 2;
            return a;
        };
        const double subida = cuando(0.9) - cuando(0.1);
        double establecimiento = 0;
        for (double t = 0; t < 10; t += 1e-5)
            if (std::abs(y(t) - 1) > 0.05)
                establecimiento = t;
        // The last second before the next step (6 s on) holds the tail of the swing.
        double suma = 0;
        int n = 0;
        for (int k = 5 * tasa - 1; k < 6 * tasa; ++k, ++n)
            suma += std::lround(hacia + (hacia - desde) * (y(double(k) / tasa) - 1)) - hacia;
        const double error = suma / n;
        qInfo("%d/s: rise %.4f (%.4f) s, overshoot %.2f (%.2f) %%, peak %.4f (%.4f) s, "
              "settling %.4f (%.4f) s, steady-state error %.2f (%.2f)",
              tasa, e.subida.value_or(-1), subida, e.sobreimpulso.value_or(-1), sobreimpulso,
              e.tiempoPico.value_or(-1), tPico, e.establecimiento.value_or(-1), establecimiento,
              e.errorEstacionario.value_or(-99), error);
        QVERIFY(e.subida && e.sobreimpulso && e.tiempoPico && e.establecimiento
                && e.errorEstacionario);
        QVERIFY(std::abs(*e.sobreimpulso - sobreimpulso) <= 1.0);
        QVERIFY(std::abs(*e.subida / subida - 1) <= 0.05);
        QVERIFY(std::abs(*e.tiempoPico / tPico - 1) <= 0.05);
        QVERIFY(std::abs(*e.establecimiento / establecimiento - 1) <= 0.05);
        QVERIFY(std::abs(*e.errorEstacionario - error) <= 0.25);
        QVERIFY(!e.periodo); // it settles

        // The window's table, copied as tab-separated text: the current step, then this one.
        f.mostrarRespuestaEscalon();
        QVERIFY(f.ventanaRespuesta->isVisible());
        QApplication::clipboard()->clear();
        f.ventanaRespuesta->findChild<QPushButton *>(QStringLiteral("btnCopiar"))->click();
        const QStringList lineas = QApplication::clipboard()->text().split(u'\n');
        QVERIFY(lineas.size() >= 4);
        const QStringList celdas = lineas.at(2).split(u'\t');
        QCOMPARE(celdas.size(), 8);
        QCOMPARE(celdas.at(0), QStringLiteral("30 → 210"));
        QCOMPARE(celdas.at(2), QString::number(*e.pico));
        QCOMPARE(celdas.at(7), QStringLiteral("—"));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    void ayuda()
    {
        QProcess sim;
        sim.start(QStringLiteral(SIMULADOR), {"--help"});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.readAllStandardOutput().contains("--inundar"));
    }
};

QTEST_MAIN(TstSimulador)
#include "tst_simulador.moc"
