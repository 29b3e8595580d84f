#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <list>
#include <thread>

#include <poll.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPoint>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "chart/graficotendencia.h"
#include "recepcion/adquisicion.h"
#include "core/variablesventana.h"
#include "hasta.h"
#include "pseudoterminal.h"
#include "ui/enlaceserie.h"
#include "serial/puertoserie.h"
#include "recepcion/esperadatos.h"
#include "ui/avisos.h"
#include "ui/form1.h"
#include "ui/lecturas.h"

class TstPuertoSerie : public QObject
{
    Q_OBJECT

    // Looks for a lost device this often here: the rule for which one comes back is tried
    // without waiting in tst_reglasserie.
    static constexpr std::chrono::milliseconds vistazo{50};

    static void conectar(Form1 &f, const QString &ruta)
    {
        f.txtPuerto->setText(ruta);
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    }
    static bool conectado(Form1 &f, const Pty &pty)
    {
        conectar(f, pty.ruta());
        return f.MSComm1->PortOpen();
    }
    static QList<QByteArray> lineasDe(const QString &ruta)
    {
        QFile log(ruta);
        return log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QList<QByteArray>();
    }
    // Sample and set point of the last n rows.
    static QList<QPoint> ultimas(const VentanaMuestras &v, int n)
    {
        QList<QPoint> filas;
        for (int r = v.RowCount() - n + 1; r <= v.RowCount(); ++r)
            filas.append({v.fila(r).dato, v.fila(r).setPoint});
        return filas;
    }
    // The stream the tests write: byte i is i % 250.
    static QByteArray serie(int desde, int hasta)
    {
        QByteArray b;
        for (int i = desde; i < hasta; ++i)
            b.append(char(i % 250));
        return b;
    }
    // Single bytes 0.5 ms apart until reading pauses to gather them.
    static bool hastaLaPausa(Pty &pty, const PuertoSerie &puerto)
    {
        QElapsedTimer reloj;
        reloj.start();
        for (int i = 0; !puerto.lecturas().enPausa && reloj.elapsed() < 20000; ++i) {
            if (!pty.escribir(QByteArray(1, char(i % 250))))
                return false;
            QCoreApplication::processEvents();
            ::usleep(500);
        }
        return puerto.lecturas().enPausa;
    }

    // Writes `total` bytes of the stream in pieces of `bloque`, at `porSegundo` bytes a second,
    // from a thread of its own while the test's event loop runs the panel. Held up (a busy
    // machine), it goes on at its rate from where it is rather than catch up with a burst.
    struct Controlador
    {
        Controlador(Pty &pty, double porSegundo, int bloque, int total)
            : bloque_(bloque), hilo([&pty, porSegundo, bloque, total, this] {
                  using namespace std::chrono;
                  const auto periodo =
                      duration_cast<steady_clock::duration>(duration<double>(bloque / porSegundo));
                  auto siguiente = steady_clock::now();
                  for (int hecho = 0; hecho < total && !parar; hecho += bloque) {
                      std::this_thread::sleep_until(siguiente);
                      const QByteArray pieza = serie(hecho, std::min(total, hecho + bloque));
                      pty.escribir(pieza);
                      if (hecho == 0)
                          primera = steady_clock::now();
                      ultima = steady_clock::now();
                      escritos = hecho + int(pieza.size());
                      siguiente = std::max(siguiente + periodo, steady_clock::now() - periodo);
                  }
                  terminado = true;
              })
        {
        }
        ~Controlador()
        {
            parar = true;
            hilo.join();
        }
        // Seconds between bytes as the writer managed them (a busy machine holds it up).
        double espaciado() const
        {
            const auto bloques = (escritos + bloque_ - 1) / bloque_;
            return std::chrono::duration<double>(ultima - primera).count()
                   / std::max(1, bloques - 1) / bloque_;
        }
        int bloque_ = 1;
        std::chrono::steady_clock::time_point primera, ultima;
        std::atomic<int> escritos{0};
        std::atomic<bool> parar{false};
        std::atomic<bool> terminado{false};
        std::thread hilo;
    };

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
        const auto nombre = dispositivos::nombreDispositivo(texto, &motivo);
        QCOMPARE(nombre.value_or(QString()), dispositivo);
        QCOMPARE(motivo.isEmpty(), !dispositivo.isEmpty());
    }

    void bytesLleganComoFilas()
    {
        Pty pty;
        QVERIFY(pty.valido());
        Form1 f;
        // Sent before the opening, when nobody read it: its times are unknown, it is dropped.
        QVERIFY(pty.escribir(QByteArray::fromHex("ff630a")));
        QVERIFY(hasta([&] { return pty.enEspera() == 3; }));
        QVERIFY(conectado(f, pty));
        QCOMPARE(pty.enEspera(), 0);
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
        // What a pseudo-terminal cannot keep (parity, stop bits, flow control, DTR raised and
        // RTS low), as asked.
        const PuertoSerie::Ajustes pedidos{19200, QSerialPort::Data8, QSerialPort::NoParity,
                                           QSerialPort::OneStop, QSerialPort::NoFlowControl,
                                           true, false};
        QVERIFY(f.MSComm1->ajustesPedidos() == pedidos);

        QVERIFY(pty.escribir(QByteArray::fromHex("fffffe")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("254"));
        QCOMPARE(f.variables.setPoint, std::optional<int16_t>(255));
        // A controller sending a sample now and then: each one shows the time since the last.
        QVERIFY(pty.escribir(QByteArray::fromHex("05")));
        QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(2));
        QElapsedTimer separacion;
        separacion.start();
        QTest::qWait(60);
        QVERIFY(pty.escribir(QByteArray::fromHex("06")));
        const double hueco = separacion.nsecsElapsed() / 1e9;
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("6"));
        const double mostrado = f.txtTiempo->text().toDouble();
        QVERIFY2(mostrado > hueco - 0.01 && mostrado < hueco + 0.03,
                 qPrintable(QStringLiteral("%1 for %2").arg(mostrado).arg(hueco)));
        QVERIFY(pty.escribir(QByteArray::fromHex("0aff28")));
        QTRY_COMPARE(f.variables.setPoint, std::optional<int16_t>(40));
        QVERIFY(f.variables.esperaSetPoint == false);
        // The set point's marker and value in two separate writes.
        QVERIFY(pty.escribir(QByteArray::fromHex("0cff")));
        QTRY_VERIFY(f.variables.esperaSetPoint);
        QVERIFY(pty.escribir(QByteArray::fromHex("3c00")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("0"));
        QCOMPARE(ultimas(f.ventana, 3), (QList<QPoint>{{10, 255}, {12, 40}, {0, 60}}));
        QCOMPARE(f.ventana.RowCount(), 512);
        QVERIFY(f.avisos().mostrados().isEmpty());
    }

    // A UART at full speed hands bytes over one at a time; reading pauses to gather them,
    // and none may be lost, reordered or kept waiting.
    void bytesSueltosSeguidos()
    {
        Pty pty;
        Form1 f;
        QVERIFY(conectado(f, pty));
        const QByteArray esperado = serie(0, 300);
        for (const char b : esperado) {
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

    // The time box shows the controller's spacing however the port gathers what it reads: the
    // median of what it shows, within half of the spacing the writer achieved, since a busy
    // machine reads late in uneven bunches. What this guards is the wiring (a byte time, a
    // whole silence or nothing at all would be ten times off); the rules themselves are tried
    // to the microsecond in tst_reglasserie.
    void tiempoAlRitmoDelControlador_data()
    {
        QTest::addColumn<double>("porSegundo");
        QTest::addColumn<int>("bloque");
        QTest::newRow("200 samples/s") << 200.0 << 1;
        QTest::newRow("1920 samples/s in 32-byte writes") << 1920.0 << 32;
    }
    void tiempoAlRitmoDelControlador()
    {
        QFETCH(double, porSegundo);
        QFETCH(int, bloque);
        Pty pty;
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(conectado(f, pty));
        Controlador controlador(pty, porSegundo, bloque, int(porSegundo * 2.5));
        QTRY_VERIFY(f.adquisicion().muestrasRecibidas() > porSegundo / 4); // under way
        QList<double> mostrados;
        QString ultimo;
        hasta([&] {
            if (f.txtTiempo->text() != ultimo)
                mostrados << (ultimo = f.txtTiempo->text()).toDouble();
            return bool(controlador.terminado);
        }, 30000);
        // The first may span the start, the last the end of the stream.
        mostrados = mostrados.mid(1, mostrados.size() - 2);
        QVERIFY2(mostrados.size() >= 3, qPrintable(QString::number(mostrados.size())));
        std::sort(mostrados.begin(), mostrados.end());
        const double mediana = mostrados[mostrados.size() / 2];
        QVERIFY2(std::abs(mediana / controlador.espaciado() - 1.0) <= 0.5,
                 qPrintable(QStringLiteral("median %1 s for %2 s").arg(mediana).arg(controlador.espaciado())));
    }

    // Reading pauses only for a fast trickle: a flood is gathered, and a slow trickle that
    // follows it at once is soon read as it comes, byte by byte; nothing lost or reordered.
    void lecturaReunida()
    {
        constexpr int rafaga = 600; // at 1920 bytes a second
        constexpr int goteo = 50;   // then 15 ms apart
        Pty pty;
        PuertoSerie puerto;
        QByteArray recibido;
        QList<qsizetype> eventos; // how many bytes had come by the end of each event
        puerto.setReceptor([&](int16_t, QByteArrayView entrada, std::chrono::nanoseconds) {
            recibido.append(entrada.data(), entrada.size());
            eventos << recibido.size();
        });
        QString motivo;
        QVERIFY2(puerto.abrir(pty.ruta(), pty.ruta(), &motivo), qPrintable(motivo));
        {
            Controlador flood(pty, 1920, 1, rafaga);
            QVERIFY(hasta([&] { return bool(flood.terminado); }, 30000));
        }
        Controlador trickle(pty, 1000.0 / 15, 1, goteo);
        QVERIFY(hasta([&] { return recibido.size() == rafaga + goteo; }, 30000));
        const auto enLaRafaga = std::count_if(eventos.cbegin(), eventos.cend(),
                                              [](qsizetype n) { return n <= rafaga; });
        QVERIFY2(enLaRafaga < rafaga / 4, qPrintable(QString::number(enLaRafaga)));
        // The pause spares the wake-ups, not only the deliveries.
        QVERIFY2(puerto.lecturas().despertares < (rafaga + goteo) / 2,
                 qPrintable(QString::number(puerto.lecturas().despertares)));
        // A pause or two may still take the first bytes of the trickle; then reads as they
        // come (a loaded machine bunches some of them; a pause that never ends, all of them).
        const auto sueltos = std::count_if(eventos.cbegin(), eventos.cend(),
                                           [](qsizetype n) { return n > rafaga + 15; });
        QVERIFY2(sueltos >= (goteo - 15) / 2, qPrintable(QString::number(sueltos)));
        QCOMPARE(recibido, serie(0, rafaga) + serie(0, goteo));
    }

    // A stream read late because the program stalled: the read after the stall says its bytes
    // came over the stall, at the stream's pace, not together.
    void lecturaTrasUnaParada()
    {
        Pty pty;
        PuertoSerie puerto;
        QList<std::pair<qsizetype, double>> lecturas; // bytes, and over how long they came (ms)
        puerto.setReceptor([&](int16_t, QByteArrayView entrada, std::chrono::nanoseconds llegada) {
            lecturas.append({entrada.size(), llegada.count() / 1e6});
        });
        QString motivo;
        QVERIFY2(puerto.abrir(pty.ruta(), pty.ruta(), &motivo), qPrintable(motivo));
        Controlador controlador(pty, 100, 1, 100);
        QVERIFY(hasta([&] { return lecturas.size() >= 20; }));
        lecturas.clear();
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // no event handled meanwhile
        QVERIFY(hasta([&] { return !lecturas.isEmpty(); }));
        QVERIFY2(lecturas[0].first >= 10 && lecturas[0].second >= 150,
                 qPrintable(QStringLiteral("%1 bytes over %2 ms").arg(lecturas[0].first).arg(lecturas[0].second)));
    }

    // A hang-up during a pause: the byte QSerialPort already holds is delivered; the ones
    // still in the kernel are discarded by the kernel itself at a hang-up (a pseudo-terminal
    // shows that too), so no program can read them.
    void perdidaDuranteUnaPausa()
    {
        Pty pty;
        PuertoSerie puerto;
        QByteArray recibido;
        puerto.setReceptor([&](int16_t, QByteArrayView entrada, std::chrono::nanoseconds) {
            recibido.append(entrada.data(), entrada.size());
        });
        QSignalSpy perdidas(&puerto, &PuertoSerie::perdido);
        QString motivo;
        QVERIFY2(puerto.abrir(pty.ruta(), pty.ruta(), &motivo), qPrintable(motivo));
        QVERIFY(hastaLaPausa(pty, puerto));
        QVERIFY(pty.escribir(QByteArray(1, char(251))));
        // The kernel hands a written byte to the line a moment later; then QSerialPort takes
        // it and stops watching the device (or the pause ends and it is delivered).
        hasta([&] { return pty.enEspera() > 0 || recibido.contains(char(251)); }, 500);
        QVERIFY(hasta([&] { return pty.enEspera() == 0; }));
        pty.cerrarMaestro();
        QTRY_COMPARE(perdidas.size(), 1);
        QVERIFY(!puerto.PortOpen());
        QVERIFY(recibido.contains(char(251)));
    }

    // The chart's frame hands over what gathered during a pause, so the chart and the
    // read-outs are never a pause behind (the pause itself ends later).
    void fotogramaTerminaLaPausa()
    {
        Pty pty;
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(conectado(f, pty));
        QVERIFY(hastaLaPausa(pty, *f.MSComm1));
        QVERIFY(pty.escribir(QByteArray(1, char(251))));
        // On the line (the kernel passes it on a moment later), before any event is handled.
        QElapsedTimer reloj;
        reloj.start();
        while (pty.enEspera() <= 0 && reloj.elapsed() < 30000)
            ::usleep(50);
        const uint64_t fotogramas = f.MSChart1->redibujos();
        while (f.MSChart1->redibujos() == fotogramas && reloj.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCOMPARE(f.ventana.fila(512).dato, 251);
    }

    // Another program reading the same device takes bytes the panel was woken for: its read
    // finds nothing, which is no loss while the device is there and more keep coming.
    void otroLector()
    {
        Pty pty;
        Form1 f;
        QVERIFY(conectado(f, pty));
        const int otro = ::open(pty.ruta().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (otro < 0)
            QSKIP("the system lets no second reader open the device");
        std::atomic<bool> parar{false};
        std::thread lector([&] {
            char robado[64];
            for (unsigned espera = 0; !parar; espera = (espera + 7) % 40) {
                pollfd p{otro, POLLIN, 0};
                if (::poll(&p, 1, 5) <= 0)
                    continue;
                // A moment later, as a program busy with other things would read.
                for (const auto hasta = std::chrono::steady_clock::now()
                                        + std::chrono::microseconds(espera);
                     std::chrono::steady_clock::now() < hasta;) {
                }
                [[maybe_unused]] const ssize_t k = ::read(otro, robado, sizeof robado);
            }
        });
        {
            // Bytes keep coming while the two read: at the moment the panel's read finds
            // nothing, more may already be waiting.
            Controlador controlador(pty, 20000, 1, 400000);
            QElapsedTimer reloj;
            reloj.start();
            while (f.MSComm1->lecturas().vacias < 5 && f.MSComm1->PortOpen()
                   && reloj.elapsed() < 20000)
                QCoreApplication::processEvents();
        }
        parar = true;
        lector.join();
        ::close(otro);
        QVERIFY(f.MSComm1->PortOpen());
        if (f.MSComm1->lecturas().vacias == 0)
            QSKIP("the other reader never emptied a read here in time (a loaded machine)");
        QVERIFY(pty.escribir(QByteArray(1, char(251))));
        QTRY_COMPARE(f.ventana.fila(512).dato, 251);
        QVERIFY(f.avisos().mostrados().isEmpty());
    }

    void enviarSetPoint_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<QByteArray>("enLinea");
        QTest::addColumn<int>("setPoint");
        QTest::newRow("150 lowered") << "150" << QByteArray("\x64", 1) << 100;
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
        QVERIFY(conectado(f, pty));
        f.variables.setPoint = 7;
        f.txtSetPoint->setText(texto);
        // The button is hidden in the window; its click is what the handler answers.
        f.btnEnviar->click();
        QByteArray enviado;
        QTRY_COMPARE(enviado += pty.leer(), enLinea);
        QCOMPARE(f.variables.setPoint, std::optional<int16_t>(setPoint));
        // What was sent is shown; a lowering says why, once a run; Enter sends too.
        QTRY_COMPARE(f.avisos().mostrados().size(), int(enLinea.isEmpty() || texto == "150"));
        QVERIFY(!f.variables.esperaSetPoint);
        QCOMPARE(f.txtSetPoint->text(), enLinea.isEmpty() ? texto : QString::number(setPoint));
        // Enter with nothing typed since the send (the box as the send left it) sends nothing.
        const bool nadaEscrito = f.txtSetPoint->text() == texto;
        f.txtSetPoint->setText(texto);
        qDeleteAll(f.findChildren<QMessageBox *>()); // read and closed
        QTest::keyClick(f.txtSetPoint, Qt::Key_Return);
        QByteArray otra;
        QTRY_COMPARE(otra += pty.leer(), nadaEscrito ? QByteArray() : enLinea);
        QTest::qWait(50);
        QCOMPARE(otra += pty.leer(), nadaEscrito ? QByteArray() : enLinea);
        QTRY_COMPARE(f.avisos().mostrados().size(), enLinea.isEmpty() ? 2 : int(texto == "150"));
        // The next sample carries what the controller got.
        QVERIFY(pty.escribir(QByteArray("\x05", 1)));
        QVERIFY(hasta([&] { return f.adquisicion().muestrasRecibidas() == 1; }));
        QCOMPARE(f.ventana.fila(f.ventana.RowCount()).setPoint, int16_t(setPoint));
    }

    void fallosAlConectar_data()
    {
        QTest::addColumn<QString>("puerto"); // empty: one another window holds
        QTest::newRow("no such device") << "/dev/velmora-no-existe";
        QTest::newRow("port 0") << "0";
        QTest::newRow("not a device") << "/etc/hostname";
        QTest::newRow("held by another window") << "";
    }
    void fallosAlConectar()
    {
        QFETCH(QString, puerto);
        Pty pty;
        Form1 primero, f;
        if (puerto.isEmpty()) {
            QVERIFY(conectado(primero, pty));
            puerto = pty.ruta();
        }
        conectar(f, puerto);
        QVERIFY(!f.MSComm1->PortOpen());
        QVERIFY(f.btnPuerto->isEnabled());
        QVERIFY(!f.btnEnviar->isEnabled());
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        QVERIFY(f.avisos().mostrados().first().contains(QStringLiteral("puerto")));
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
            QVERIFY(conectado(f, pty));
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
        QCOMPARE(f.variables.setPoint, std::optional<int16_t>(5));
        QVERIFY(f.variables.registroAbierto);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        const QList<QByteArray> lineas = lineasDe(destino);
        QCOMPARE(lineas.size(), 3001);
        for (int i = 0; i < 3000; ++i)
            QVERIFY(lineas[i].endsWith("\t5\t" + QByteArray::number(i % 255) + "\r"));

        Pty otra;
        QVERIFY(conectado(f, otra));
        QVERIFY(otra.escribir(QByteArray::fromHex("2a")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("42"));
        QCOMPARE(f.ventana.fila(511).dato, 2999 % 255);
        QCOMPARE(f.ventana.fila(511).setPoint, 5);
        QVERIFY(!f.ventana.fila(512).conSetPoint()); // another port: not reported there yet
    }

    // A link left behind still names the lost device's node; the system gives that node to
    // the next device that comes, which is not ours.
    void enlaceAbandonado()
    {
        QTemporaryDir dir;
        const QString enlace = dir.filePath(QStringLiteral("controlador"));
        Form1 f;
        f.MSComm1->setIntervaloVuelta(vistazo);
        QString nodo;
        {
            Pty antes;
            nodo = antes.ruta();
            QVERIFY(QFile::link(nodo, enlace));
            conectar(f, enlace);
            QVERIFY(f.MSComm1->PortOpen());
            antes.cerrarMaestro();
            QTRY_VERIFY(!f.MSComm1->PortOpen());
        }
        std::list<Pty> nuevos;
        while (nuevos.size() < 8 && nuevos.emplace_back().ruta() != nodo) {
        }
        if (nuevos.back().ruta() != nodo)
            QSKIP("the system did not give the old node to a new device this time");
        QVERIFY(QFileInfo::exists(enlace));
        QTest::qWait(int(4 * vistazo.count())); // a few looks: nothing opens
        QVERIFY(!f.MSComm1->PortOpen());
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
        f.MSComm1->setIntervaloVuelta(vistazo);
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
        QTest::qWait(int(3 * vistazo.count())); // a few looks while nothing is there
        QVERIFY(!f.MSComm1->PortOpen());

        Pty otra;
        if (otroPuerto)
            QVERIFY(conectado(f, otra));
        Pty despues;
        QVERIFY(QFile::remove(enlace));
        QVERIFY(QFile::link(despues.ruta(), enlace));
        if (otroPuerto) {
            QTest::qWait(int(4 * vistazo.count()));
            QCOMPARE(f.MSComm1->dispositivo(), otra.ruta());
            QVERIFY(otra.escribir(QByteArray::fromHex("0c0d")));
            QTRY_COMPARE(f.txtDato->text(), QStringLiteral("13"));
            // The marker before the loss belongs to the old port: 12 is a sample.
            QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(3));
            QVERIFY(!f.variables.setPoint);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.MSComm1->PortOpen(), 3000);
        QVERIFY(!f.btnPuerto->isEnabled());
        QVERIFY(f.btnEnviar->isEnabled());
        // What came before the loss does not reach across it: the marker's set point was
        // discarded with the line, so 40 is a sample and the set point is unknown again.
        QVERIFY(despues.escribir(QByteArray::fromHex("280b")));
        QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(3));
        QCOMPARE(f.avisos().mostrados().size(), 1);
        f.close();
        const QList<QByteArray> lineas = lineasDe(destino);
        QCOMPARE(lineas.size(), 4);
        QVERIFY(lineas[0].endsWith("\t5\t10\r"));
        QVERIFY(lineas[1].endsWith("\t\t40\r"));
        QVERIFY(lineas[2].endsWith("\t\t11\r"));
    }

    // After a loss the panel reopens by itself only the device it had: one with the same
    // identity, wherever it comes back; never another adapter that takes the same name, nor
    // a bare name with no identity that the system hands to the next device that comes.
    void soloVuelveElMismoDispositivo_data()
    {
        QTest::addColumn<QString>("antes");   // identity of the device connected
        QTest::addColumn<QString>("despues"); // of the one present after the loss
        QTest::addColumn<bool>("reabre");
        // As typed: the device file, its short name, or a link (to a link the test points at
        // the other device, as udev re-points by-id links).
        QTest::addColumn<QString>("como");
        const QString a1 = "0403:6001:A1", b2 = "0403:6001:B2";
        QTest::newRow("the same adapter, another node") << a1 << a1 << true << "ruta";
        QTest::newRow("another adapter") << a1 << b2 << false << "ruta";
        QTest::newRow("same model, no serial number") << "1a86:7523:" << "1a86:7523:" << false << "ruta";
        QTest::newRow("no identity") << "" << "" << false << "ruta";
        QTest::newRow("typed by its short name") << a1 << a1 << true << "corto";
        QTest::newRow("a link, the same adapter behind it") << a1 << a1 << true << "enlace";
        QTest::newRow("a link, another adapter behind it") << a1 << b2 << false << "enlace";
    }
    void soloVuelveElMismoDispositivo()
    {
        QFETCH(QString, antes);
        QFETCH(QString, despues);
        QFETCH(bool, reabre);
        QFETCH(QString, como);
        QTemporaryDir dir;
        const QString enlace = dir.filePath(QStringLiteral("controlador"));
        const QString medio = dir.filePath(QStringLiteral("medio"));
        const auto identidad = [](const QString &texto) {
            const QStringList partes = texto.split(u':');
            if (partes.size() != 3)
                return PuertoSerie::Identidad{};
            return PuertoSerie::Identidad{quint16(partes[0].toUShort(nullptr, 16)),
                                          quint16(partes[1].toUShort(nullptr, 16)), partes[2]};
        };
        QList<PuertoSerie::Dispositivo> presentes;
        int miradas = 0;
        Form1 f;
        f.MSComm1->setIntervaloVuelta(vistazo);
        f.MSComm1->setListaDispositivos([&] {
            ++miradas;
            return presentes;
        });
        Pty otro; // made first, so the system gives it another number
        {
            Pty primero;
            presentes = {{primero.ruta(), identidad(antes)}};
            QString escrito = primero.ruta();
            if (como == QStringLiteral("corto"))
                escrito.remove(0, 5); // "/dev/"
            if (como == QStringLiteral("enlace")) {
                QVERIFY(QFile::link(primero.ruta(), medio) && QFile::link(medio, enlace));
                escrito = enlace;
            }
            conectar(f, escrito);
            QVERIFY(f.MSComm1->PortOpen());
            // Unplugged: gone from the system's list too, so a pseudo-terminal another
            // program makes meanwhile, on the number this one frees, is not taken for it.
            presentes.clear();
            primero.cerrarMaestro();
            QTRY_VERIFY(!f.MSComm1->PortOpen());
        }
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        const QString aviso = f.avisos().mostrados().first();
        QCOMPARE(aviso.contains(QStringLiteral("Se reconectará sola")), !antes.isEmpty());
        QCOMPARE(f.MSComm1->esperandoVuelta(), !antes.isEmpty());
        presentes = {{otro.ruta(), identidad(despues)}};
        QVERIFY(como != QStringLiteral("enlace")
                || (QFile::remove(medio) && QFile::link(otro.ruta(), medio)));
        const int hasta = miradas + 2;
        QTRY_VERIFY_WITH_TIMEOUT(
            f.MSComm1->PortOpen() || miradas >= hasta || !f.MSComm1->esperandoVuelta(), 10000);
        QCOMPARE(f.MSComm1->PortOpen(), reabre);
        if (!reabre) {
            f.MSComm1->cerrar(); // as the window does when it closes: no look after that
            QVERIFY(!f.MSComm1->esperandoVuelta());
            return;
        }
        QCOMPARE(f.MSComm1->dispositivo(), como == QStringLiteral("enlace") ? enlace : otro.ruta());
        QVERIFY(!f.btnPuerto->isEnabled());
        // The message about the loss is no longer true: it goes.
        const auto abierto = [&] {
            const auto cajas = f.findChildren<QMessageBox *>();
            return std::any_of(cajas.cbegin(), cajas.cend(), [&](QMessageBox *m) {
                return m->isVisible() && m->text() == aviso;
            });
        };
        QTRY_VERIFY(!abierto());
        QVERIFY(otro.escribir(QByteArray::fromHex("21")));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("33"));
    }

    // A hang-up with the device file still there is a disconnection too, not the system's
    // leftover error text.
    void colgadoConElDispositivoPresente()
    {
        if (::geteuid() != 0)
            QSKIP("a hang-up of a pseudo-terminal that stays needs the administrator's rights");
        Pty pty;
        Form1 f;
        QVERIFY(conectado(f, pty));
        QVERIFY(pty.colgar());
        QTRY_VERIFY(!f.MSComm1->PortOpen());
        QVERIFY(QFileInfo::exists(pty.ruta()));
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        QVERIFY2(f.avisos().mostrados().first().contains(
                     QStringLiteral(": el dispositivo se ha desconectado.")),
                 qPrintable(f.avisos().mostrados().first()));
    }

    // Log-out, Ctrl+C and a closed terminal end the real program as closing its window does:
    // the port is let go at once, for the next program (or the same one) to open.
    void senalesDejanLibreElPuerto_data()
    {
        QTest::addColumn<int>("senal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void senalesDejanLibreElPuerto()
    {
        QFETCH(int, senal);
        Pty pty;
        QProcess panel;
        QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
        entorno.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        panel.setProcessEnvironment(entorno);
        panel.start(QStringLiteral(VELMORA), {pty.ruta(), QStringLiteral("--conectar")});
        QVERIFY(panel.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(pty.exclusivo(), 20000); // connected
        // A file-size limit makes the log's write fail (and say so) rather than kill it.
        QFile estado(QStringLiteral("/proc/%1/status").arg(panel.processId()));
        QVERIFY(estado.open(QIODevice::ReadOnly));
        const QByteArray todo = estado.readAll();
        const QByteArray ignoradas = todo.mid(todo.indexOf("SigIgn:") + 7).split('\n')[0].trimmed();
        QVERIFY2(ignoradas.toULongLong(nullptr, 16) & (1ULL << (SIGXFSZ - 1)),
                 ignoradas.constData());
        ::kill(pid_t(panel.processId()), senal);
        QVERIFY(panel.waitForFinished(20000));
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), 0);
        QVERIFY(!pty.exclusivo());
        QSerialPort otra;
        otra.setPortName(pty.ruta());
        QVERIFY2(otra.open(QIODevice::ReadWrite), qPrintable(otra.errorString()));
    }

    // A port left for a wrong one (silent) and back, without restarting: the silence said
    // without a dialog, the port left by typing another name, the log going on in the same
    // file, and nothing of the first opening (its set point) taken as a step.
    void cambiarDePuertoConectado()
    {
        QTemporaryDir dir;
        const QString destino = dir.filePath(QStringLiteral("r.xls"));
        Pty mudo, bueno;
        Form1 f;
        f.txtRegistro->setText(destino);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        conectar(f, bueno.ruta());
        QVERIFY(bueno.escribir(QByteArray::fromHex("ff0a05")));
        QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(1));
        f.txtPuerto->setText(mudo.ruta());
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
        QCOMPARE(f.MSComm1->dispositivo(), mudo.ruta());
        f.esperaDatos().comprobar(EsperaDatos::plazo - std::chrono::milliseconds(1));
        QVERIFY(f.MSChart1->nota().isEmpty());
        f.esperaDatos().comprobar(EsperaDatos::plazo);
        QVERIFY(f.MSChart1->nota().contains(mudo.ruta()));
        QCOMPARE(f.txtTiempo->toolTip(), f.MSChart1->nota());
        f.txtPuerto->setText(bueno.ruta());
        QVERIFY(f.btnPuerto->isEnabled());
        f.txtPuerto->setText(mudo.ruta());
        QVERIFY(!f.btnPuerto->isEnabled());
        conectar(f, bueno.ruta());
        QCOMPARE(f.MSComm1->dispositivo(), bueno.ruta());
        QVERIFY(!f.btnPuerto->isEnabled() && f.btnEnviar->isEnabled());
        QVERIFY(f.MSChart1->nota().isEmpty() && f.txtTiempo->toolTip() == Form1::ayudaTiempo);
        QVERIFY(bueno.escribir(QByteArray::fromHex("ff142a")));
        QTRY_COMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(2));
        QCOMPARE(f.adquisicion().respuesta().cuantos(), 0);
        f.esperaDatos().comprobar(EsperaDatos::plazo);
        QVERIFY(f.MSChart1->nota().isEmpty());
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        const QList<QByteArray> lineas = lineasDe(destino);
        QCOMPARE(lineas.size(), 3);
        QVERIFY(lineas[0].endsWith("\t10\t5\r") && lineas[1].endsWith("\t20\t42\r"));
    }

    // The set-point box says what the controller has until the user types; an opening makes it
    // unknown again, so Enter cannot send the last controller's set point to the next one.
    void cajaSetPointTrasAbrir()
    {
        Pty primero, segundo;
        Form1 f;
        conectar(f, primero.ruta());
        QCOMPARE(f.txtSetPoint->text(), QString());
        QVERIFY(primero.escribir(QByteArray::fromHex("ff1405"))); // set point 20, sample 5
        QTRY_COMPARE(f.txtSetPoint->text(), QStringLiteral("20"));
        QTest::keyClick(f.txtSetPoint, Qt::Key_Return); // nothing typed: nothing sent
        f.txtSetPoint->selectAll();
        QTest::keyClicks(f.txtSetPoint, QStringLiteral("45"));
        QVERIFY(primero.escribir(QByteArray::fromHex("ff3c06"))); // the controller moves on to 60
        QTRY_COMPARE(f.ventana.fila(f.ventana.RowCount()).dato, int16_t(6));
        f.lecturas().escribir();
        QCOMPARE(f.txtSetPoint->text(), QStringLiteral("45")); // what the user typed stays
        QTest::qWait(50);
        QCOMPARE(primero.leer(), QByteArray());
        QTest::keyClick(f.txtSetPoint, Qt::Key_Return);
        QByteArray enviado;
        QTRY_COMPARE(enviado += primero.leer(), QByteArray("\x2d", 1));
        QVERIFY(primero.escribir(QByteArray::fromHex("ff3c07"))); // its report of 60, in flight
        QTRY_COMPARE(f.ventana.fila(f.ventana.RowCount()).dato, int16_t(7));
        f.lecturas().escribir();
        QCOMPARE(f.txtSetPoint->text(), QStringLiteral("45"));
        const QString dePrimero = f.MSComm1->descripcion();
        const QString titulo = QStringLiteral("Velmora - Control PID — ");
        QCOMPARE(f.windowTitle(), titulo + dePrimero);
        conectar(f, segundo.ruta());
        // The steps seen keep the port they came from; the title follows the new one.
        QCOMPARE(f.adquisicion().respuesta().origen(0), dePrimero);
        QCOMPARE(f.windowTitle(), titulo + f.MSComm1->descripcion());
        QVERIFY(f.MSComm1->descripcion() != dePrimero);
        QCOMPARE(f.txtSetPoint->text(), QString());
        QTest::keyClick(f.txtSetPoint, Qt::Key_Return);
        QTest::qWait(50);
        QCOMPARE(segundo.leer(), QByteArray());
        QVERIFY(segundo.escribir(QByteArray::fromHex("ff3c08")));
        QTRY_COMPARE(f.txtSetPoint->text(), QStringLiteral("60"));
    }
};

QTEST_MAIN(TstPuertoSerie)
#include "tst_puertoserie.moc"
