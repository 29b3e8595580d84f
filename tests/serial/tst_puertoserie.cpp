#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "recepcion/adquisicion.h"
#include "core/variablesventana.h"
#include "pseudoterminal.h"
#include "serial/enlaceserie.h"
#include "serial/puertoserie.h"
#include "ui/avisos.h"
#include "ui/form1.h"

class TstPuertoSerie : public QObject
{
    Q_OBJECT

    static void conectar(Form1 &f, const QString &ruta)
    {
        f.txtPuerto->setText(ruta);
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    }
    static QList<VentanaMuestras::Fila> ultimas(const VentanaMuestras &v, int n)
    {
        QList<VentanaMuestras::Fila> filas;
        for (int r = v.RowCount() - n + 1; r <= v.RowCount(); ++r)
            filas.append(v.fila(r));
        return filas;
    }

private slots:
    void nombreDispositivo_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<QString>("dispositivo"); // empty: refused
        QTest::newRow("1") << "1" << "/dev/ttyS0";
        QTest::newRow("4") << "4" << "/dev/ttyS3";
        QTest::newRow("2.5 to even") << "2.5" << "/dev/ttyS1";
        QTest::newRow("spaces") << " 3 " << "/dev/ttyS2";
        QTest::newRow("0") << "0" << "";
        QTest::newRow("negative") << "-2" << "";
        QTest::newRow("beyond 16 bits") << "40000" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("usb name") << "ttyUSB0" << "ttyUSB0";
        QTest::newRow("path") << "/dev/ttyACM0" << "/dev/ttyACM0";
    }
    void nombreDispositivo()
    {
        QFETCH(QString, texto);
        QFETCH(QString, dispositivo);
        QString motivo;
        const auto nombre = enlaceserie::nombreDispositivo(texto, &motivo);
        QCOMPARE(nombre.value_or(QString()), dispositivo);
        QCOMPARE(motivo.isEmpty(), !dispositivo.isEmpty());
    }

    void bytesLleganComoFilas()
    {
        Pty pty;
        QVERIFY(pty.valido());
        Form1 f;
        conectar(f, pty.ruta());
        QVERIFY(f.MSComm1->PortOpen());
        QVERIFY(!f.btnPuerto->isEnabled());
        QVERIFY(f.btnEnviar->isEnabled());
        QVERIFY(f.btnEnviar->isHidden()); // enabling does not show the hidden row

        QVERIFY(pty.escribir(QByteArray::fromHex("0aff28")));
        QTRY_COMPARE(f.variables.setPoint, int16_t(40));
        QVERIFY(f.variables.esperaSetPoint == false);
        // The set point's marker and value in two separate writes.
        QVERIFY(pty.escribir(QByteArray::fromHex("0cff")));
        QTRY_VERIFY(f.variables.esperaSetPoint);
        QVERIFY(pty.escribir(QByteArray::fromHex("3c00")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("0"));
        const auto filas = ultimas(f.ventana, 3);
        QCOMPARE(filas[0].dato, 10);
        QCOMPARE(filas[0].setPoint, 0);
        QCOMPARE(filas[1].dato, 12);
        QCOMPARE(filas[1].setPoint, 40);
        QCOMPARE(filas[2].dato, 0);
        QCOMPARE(filas[2].setPoint, 60);
        QCOMPARE(f.ventana.RowCount(), 512);
        QVERIFY(f.avisos().mostrados().isEmpty());
    }

    // A UART at full speed hands bytes over one at a time; reading pauses to gather them,
    // and none may be lost, reordered or kept waiting.
    void bytesSueltosSeguidos()
    {
        Pty pty;
        Form1 f;
        conectar(f, pty.ruta());
        QVERIFY(f.MSComm1->PortOpen());
        QByteArray esperado;
        for (int i = 0; i < 300; ++i) {
            const char b = char(i % 250);
            esperado.append(b);
            QVERIFY(pty.escribir(QByteArray(1, b)));
            QTest::qWait(0);
            ::usleep(300);
        }
        QElapsedTimer reloj;
        reloj.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.adquisicion().muestrasRecibidas(), uint64_t(300), 2000);
        QVERIFY2(reloj.elapsed() < 500, qPrintable(QString::number(reloj.elapsed())));
        QByteArray recibido;
        for (int r = 512 - 299; r <= 512; ++r)
            recibido.append(char(f.ventana.fila(r).dato));
        QCOMPARE(recibido, esperado);
        // A lone byte that comes while reading pauses is not held back for the next one.
        for (int ronda = 0; ronda < 20; ++ronda) {
            for (int k = 0; k < 2; ++k) { // two events close together start a pause
                const uint64_t antes = f.adquisicion().muestrasRecibidas();
                QVERIFY(pty.escribir(QByteArray(1, char(k))));
                while (f.adquisicion().muestrasRecibidas() == antes && reloj.elapsed() < 10000)
                    QCoreApplication::processEvents();
            }
            QVERIFY(pty.escribir(QByteArray(1, char(77))));
            QTRY_COMPARE_WITH_TIMEOUT(f.ventana.fila(512).dato, 77, 1000);
        }
    }

    void enviarSetPoint_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<QByteArray>("enLinea");
        QTest::addColumn<int>("setPoint");
        QTest::newRow("150 lowered") << "150" << QByteArray("\x64", 1) << 150;
        QTest::newRow("100") << "100" << QByteArray("\x64", 1) << 100;
        QTest::newRow("0 is a NUL byte") << "0" << QByteArray("\x00", 1) << 0;
        QTest::newRow("37.5 to even") << "37.5" << QByteArray("\x26", 1) << 38;
        QTest::newRow("36.5 to even") << "36.5" << QByteArray("\x24", 1) << 36;
        QTest::newRow("-1 sends nothing") << "-1" << QByteArray() << 7;
        QTest::newRow("letters send nothing") << "abc" << QByteArray() << 7;
    }
    void enviarSetPoint()
    {
        QFETCH(QString, texto);
        QFETCH(QByteArray, enLinea);
        QFETCH(int, setPoint);
        Pty pty;
        Form1 f;
        conectar(f, pty.ruta());
        QVERIFY(f.MSComm1->PortOpen());
        f.variables.setPoint = 7;
        f.txtSetPoint->setText(texto);
        // The button is hidden in the window; its click is what the handler answers.
        f.btnEnviar->click();
        QTest::qWait(100);
        QCOMPARE(pty.leer(), enLinea);
        QCOMPARE(f.variables.setPoint, int16_t(setPoint));
        QCOMPARE(f.avisos().mostrados().size(), enLinea.isEmpty() ? 1 : 0);
        QVERIFY(!f.variables.esperaSetPoint);
        QCOMPARE(f.txtSetPoint->text(), texto);
    }

    void fallosAlConectar_data()
    {
        QTest::addColumn<QString>("puerto");
        QTest::newRow("no such device") << "/dev/velmora-no-existe";
        QTest::newRow("port 0") << "0";
        QTest::newRow("not a device") << "/etc/hostname";
    }
    void fallosAlConectar()
    {
        QFETCH(QString, puerto);
        Form1 f;
        conectar(f, puerto);
        QVERIFY(!f.MSComm1->PortOpen());
        QVERIFY(f.btnPuerto->isEnabled());
        QVERIFY(!f.btnEnviar->isEnabled());
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        QVERIFY(f.avisos().mostrados().first().contains(QStringLiteral("puerto")));
    }

    void puertoOcupado()
    {
        Pty pty;
        Form1 primero;
        conectar(primero, pty.ruta());
        QVERIFY(primero.MSComm1->PortOpen());
        Form1 segundo;
        conectar(segundo, pty.ruta());
        QVERIFY(!segundo.MSComm1->PortOpen());
        QVERIFY(segundo.btnPuerto->isEnabled());
        QTRY_COMPARE(segundo.avisos().mostrados().size(), 1);
    }

    void extremoCerradoYReconexion()
    {
        Form1 f;
        {
            Pty pty;
            conectar(f, pty.ruta());
            QVERIFY(f.MSComm1->PortOpen());
            QVERIFY(pty.escribir(QByteArray::fromHex("ff0511")));
            QTRY_COMPARE(f.txtDato->text(), QStringLiteral("17"));
            pty.cerrarMaestro();
            QTRY_VERIFY(!f.MSComm1->PortOpen());
        }
        QTRY_VERIFY(f.btnPuerto->isEnabled());
        QVERIFY(!f.btnEnviar->isEnabled());
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        QTest::qWait(200);
        QCOMPARE(f.avisos().mostrados().size(), 1);
        // What was on show and the set point stay.
        QCOMPARE(f.ventana.fila(512).dato, 17);
        QCOMPARE(f.variables.setPoint, int16_t(5));

        Pty otra;
        conectar(f, otra.ruta());
        QVERIFY(f.MSComm1->PortOpen());
        QVERIFY(otra.escribir(QByteArray::fromHex("2a")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("42"));
        QCOMPARE(f.ventana.fila(511).dato, 17);
        QCOMPARE(f.ventana.fila(512).setPoint, 5);
    }

    void editarPuertoTrasConectarNoHaceNada()
    {
        Pty pty;
        Form1 f;
        conectar(f, pty.ruta());
        const QString abierto = f.MSComm1->dispositivo();
        QTest::keyClicks(f.txtPuerto, "3");
        QCOMPARE(f.MSComm1->dispositivo(), abierto);
        QVERIFY(f.MSComm1->PortOpen());
    }
};

QTEST_MAIN(TstPuertoSerie)
#include "tst_puertoserie.moc"
