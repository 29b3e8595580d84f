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
