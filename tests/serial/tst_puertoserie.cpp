#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
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

        // The controller's line: 19200 8N1, no flow control, DTR raised, RTS low; a break or
        // a framing error never becomes a byte.
        const termios t = pty.atributos();
        QCOMPARE(cfgetispeed(&t), speed_t(B19200));
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | IXANY | BRKINT | PARMRK), tcflag_t(0));
        QCOMPARE(t.c_iflag & (IGNBRK | IGNPAR), tcflag_t(IGNBRK | IGNPAR));
        QVERIFY(f.MSComm1->lineasPedidas().dtr);
        QVERIFY(!f.MSComm1->lineasPedidas().rts);

        QVERIFY(pty.escribir(QByteArray::fromHex("fffffe")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("254"));
        QCOMPARE(f.variables.setPoint, int16_t(255));
        // A controller sending a sample now and then: each one shows the time since the last.
        QVERIFY(pty.escribir(QByteArray::fromHex("05")));
        QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(2));
        QTest::qWait(60);
        QVERIFY(pty.escribir(QByteArray::fromHex("06")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("6"));
        QVERIFY2(f.txtTiempo->text().toDouble() >= 0.04, qPrintable(f.txtTiempo->text()));
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
        QCOMPARE(filas[0].setPoint, 255);
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

    // The far end goes away right after a block of bytes (a hang-up empties the kernel's own
    // queue, so the test lets the panel read them first): every byte read is shown and logged,
    // one message names the port and says what happened, and "Conectar" works again.
    void extremoCerradoYReconexion()
    {
        QTemporaryDir dir;
        const QString destino = dir.filePath(QStringLiteral("perdida.xls"));
        Form1 f;
        f.txtRegistro->setText(destino);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        QString ruta;
        QByteArray enviados = QByteArray::fromHex("ff05");
        for (int i = 0; i < 3000; ++i)
            enviados.append(char(i % 255));
        {
            Pty pty;
            ruta = pty.ruta();
            conectar(f, ruta);
            QVERIFY(f.MSComm1->PortOpen());
            QVERIFY(pty.escribir(enviados));
            QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(3000));
            pty.cerrarMaestro();
            QTRY_VERIFY(!f.MSComm1->PortOpen());
        }
        QTRY_VERIFY(f.btnPuerto->isEnabled());
        QVERIFY(!f.btnEnviar->isEnabled());
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        QTest::qWait(200);
        QCOMPARE(f.avisos().mostrados().size(), 1);
        const QString aviso = f.avisos().mostrados().first();
        QVERIFY2(aviso.contains(ruta) && aviso.contains(QStringLiteral("desconectado")),
                 qPrintable(aviso));
        // Everything sent before the loss is on show and in the log; the set point stays.
        QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(3000));
        QCOMPARE(f.ventana.fila(512).dato, 2999 % 255);
        QCOMPARE(f.variables.setPoint, int16_t(5));
        QVERIFY(f.variables.registroAbierto);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        QFile log(destino);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lineas = log.readAll().split('\n');
        QCOMPARE(lineas.size(), 3001);
        for (int i = 0; i < 3000; ++i)
            QVERIFY(lineas[i].endsWith("\t5\t" + QByteArray::number(i % 255) + "\r"));

        Pty otra;
        conectar(f, otra.ruta());
        QVERIFY(f.MSComm1->PortOpen());
        QVERIFY(otra.escribir(QByteArray::fromHex("2a")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("42"));
        QCOMPARE(f.ventana.fila(511).dato, 2999 % 255);
        QCOMPARE(f.ventana.fila(512).setPoint, 5);
    }

    // Unattended runs: after a loss the panel reopens the same name (here a link, as
    // /dev/serial/by-id gives) when a device is behind it again, and everything carries on:
    // the decoder's state, the trend, the log. Connecting elsewhere meanwhile ends the wait.
    void vueltaDelDispositivo_data()
    {
        QTest::addColumn<bool>("otroPuerto");
        QTest::newRow("the device comes back") << false;
        QTest::newRow("the user connects elsewhere meanwhile") << true;
    }
    void vueltaDelDispositivo()
    {
        QFETCH(bool, otroPuerto);
        QTemporaryDir dir;
        const QString enlace = dir.filePath(QStringLiteral("controlador"));
        const QString destino = dir.filePath(QStringLiteral("vuelta.xls"));
        Form1 f;
        f.txtRegistro->setText(destino);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        {
            Pty antes;
            QVERIFY(QFile::link(antes.ruta(), enlace));
            conectar(f, enlace);
            QVERIFY(f.MSComm1->PortOpen());
            QVERIFY(antes.escribir(QByteArray::fromHex("ff050aff"))); // a marker last
            QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(1));
            antes.cerrarMaestro();
            QTRY_VERIFY(!f.MSComm1->PortOpen());
        }
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        QVERIFY(f.avisos().mostrados().first().contains(QStringLiteral("Se reconectará sola")));
        QVERIFY(f.btnPuerto->isEnabled());
        QTest::qWait(1200); // a look or two while nothing is there
        QVERIFY(!f.MSComm1->PortOpen());

        Pty otra;
        if (otroPuerto) {
            conectar(f, otra.ruta());
            QVERIFY(f.MSComm1->PortOpen());
        }
        Pty despues;
        QVERIFY(QFile::remove(enlace));
        QVERIFY(QFile::link(despues.ruta(), enlace));
        if (otroPuerto) {
            QTest::qWait(2500);
            QCOMPARE(f.MSComm1->dispositivo(), otra.ruta());
            QVERIFY(otra.escribir(QByteArray::fromHex("0c0d")));
            QTRY_COMPARE(f.txtDato->text(), QStringLiteral("13"));
            QCOMPARE(f.variables.setPoint, int16_t(12)); // the marker came before the loss
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.MSComm1->PortOpen(), 3000);
        QVERIFY(!f.btnPuerto->isEnabled());
        QVERIFY(f.btnEnviar->isEnabled());
        QVERIFY(despues.escribir(QByteArray::fromHex("280b")));
        QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(2));
        QCOMPARE(f.avisos().mostrados().size(), 1);
        f.close();
        QFile log(destino);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lineas = log.readAll().split('\n');
        QCOMPARE(lineas.size(), 3);
        QVERIFY(lineas[0].endsWith("\t5\t10\r"));
        QVERIFY(lineas[1].endsWith("\t40\t11\r"));
    }

    void editarPuertoTrasConectarNoHaceNada()
    {
        Pty pty;
        Form1 f;
        conectar(f, pty.ruta());
        QTest::keyClicks(f.txtPuerto, "3");
        QCOMPARE(f.MSComm1->dispositivo(), pty.ruta());
        QVERIFY(f.MSComm1->PortOpen());
    }
};

QTEST_MAIN(TstPuertoSerie)
#include "tst_puertoserie.moc"
