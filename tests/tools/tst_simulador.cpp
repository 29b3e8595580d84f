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
#include "respuesta/ventanarespuesta.h"
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
        // The window made first: on a loaded machine making it takes longer than the wait.
        Form1 f;
        QProcess sim;
        QString enlace;
        // Split by pauses into separate receive events, the marker alone at an event's end.
        QVERIFY(arrancar(sim, {"--reproducir", "10,255,40|12,255|7,3", "--espera", "500",
                               "--pausa", "100"},
                         &enlace));
        conectar(f, enlace);
        QVERIFY(f.MSComm1->PortOpen());
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("3"));
        const VentanaMuestras &v = f.ventana;
        QCOMPARE(v.fila(510).dato, 10);
        QVERIFY(!v.fila(510).conSetPoint()); // not reported yet
        QCOMPARE(v.fila(511).dato, 12);
        QCOMPARE(v.fila(511).setPoint, 40);
        QCOMPARE(v.fila(512).dato, 3);
        QCOMPARE(v.fila(512).setPoint, 7);
        QVERIFY(!v.fila(509).conDato()); // nothing before the first sample
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
        // Only the word on the lowering, no failure.
        QCOMPARE(f.avisos().mostrados().size(), 1);
        QVERIFY(f.avisos().mostrados().first().contains(QStringLiteral("de 0 a 100")));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    // The demo as it starts: the controller's defaults stay inside the window's first Y axis,
    // overshoot and noise included, so nothing sits on its top edge or is clipped off.
    void porDefectoDentroDelEje()
    {
        QProcess sim;
        QString enlace;
        // The plant 4 times its pace: its first 10 s in 2.5.
        QVERIFY(arrancar(sim, {"--tasa", "200", "--acelerar", "4"}, &enlace));
        Form1 f;
        conectar(f, enlace);
        QVERIFY(f.MSComm1->PortOpen());
        const double techo = f.MSChart1->valueScale().Maximum;
        int mayor = 0;
        QElapsedTimer reloj;
        reloj.start();
        while (reloj.elapsed() < 2500) { // past the step response's peak
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

    // The figures of a step, from the panel fed through the pty by the simulator's
    // second-order plant under a proportional-only loop, with dead time and ±1 count of
    // noise, against the plant's closed-form response. The figures' logic is tested on
    // series in tst_respuestaescalon; this checks the way there.
    void respuestaAlEscalon()
    {
        const double zeta = 0.4, wn = 5.0, k = 12.0, retardo = 0.2;
        const int16_t desde = 30, hacia = 70;
        QProcess sim;
        QString enlace;
        QVERIFY(arrancar(sim, {"--tasa", "100", "--setpoint", "30", "--alternar", "70",
                               "--periodo", "4", "--planta-2o", "0.4,5", "--solo-p", "12",
                               "--retardo", "0.2", "--ruido-uniforme", "1"},
                         &enlace));
        Form1 f;
        conectar(f, enlace);
        QVERIFY(f.MSComm1->PortOpen());
        const RespuestaEscalon &r = f.adquisicion().respuesta();
        QVERIFY(hasta([&] { return r.actual().desde == hacia; })); // the step back, 4 s on
        const RespuestaEscalon::Figuras e = r.escalon(1);
        QCOMPARE(e.desde, desde);
        QCOMPARE(e.hasta, hacia);

        // y(t) = 1 - exp(-zeta wn t) / sqrt(1 - zeta^2) sin(wd t + acos zeta), per unit step,
        // a dead time late; it ends at k / (1 + k) of the set point.
        const double wd = wn * std::sqrt(1 - zeta * zeta);
        const double tPico = M_PI / wd + retardo;
        const double sobreimpulso = 100 * std::exp(-zeta * M_PI / std::sqrt(1 - zeta * zeta));
        const double final = hacia * k / (1 + k);
        QVERIFY(e.subida && e.sobreimpulso && e.tiempoPico && e.establecimiento && e.error);
        QVERIFY2(std::abs(*e.sobreimpulso - sobreimpulso) <= 3.0, qPrintable(QString::number(*e.sobreimpulso)));
        // Within a quarter: a loaded machine delays the simulator's writes and the reads.
        QVERIFY2(std::abs(*e.tiempoPico / tPico - 1) <= 0.25,
                 qPrintable(QStringLiteral("%1 s for %2 s").arg(*e.tiempoPico).arg(tPico)));
        QVERIFY(std::abs(*e.valorFinal - final) <= 1.0);

        // The window's table, copied as tab-separated text: the current step, then this one.
        f.mostrarRespuestaEscalon();
        QVERIFY(f.ventanaRespuesta->isVisible());
        QApplication::clipboard()->clear();
        f.ventanaRespuesta->findChild<QPushButton *>(QStringLiteral("btnCopiar"))->click();
        const QStringList lineas = QApplication::clipboard()->text().split(u'\n');
        QVERIFY(lineas.size() >= 4);
        const QStringList celdas = lineas.at(2).split(u'\t');
        QCOMPARE(celdas.at(1), QStringLiteral("30 → 70"));
        QCOMPARE(celdas.at(3), QString::number(*e.pico, 'f', 1));
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
