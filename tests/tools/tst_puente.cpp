#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include "broker.h"
#include "chart/ventanamuestras.h"
#include "core/variablesventana.h"
#include "hasta.h"
#include "programa/ejecutor.h"
#include "programa/programa.h"
#include "pseudoterminal.h"
#include "recepcion/adquisicion.h"
#include "remoto/clientemqtt.h"
#include "remoto/lineaprotocolo.h"
#include "remoto/puertoremoto.h"
#include "remoto/temas.h"
#include "serial/puertoserie.h"
#include "ui/form1.h"

namespace {

const QString nombre = QStringLiteral("t");

// A subscriber as a historian would be: a session of its own that the broker keeps while it
// is away, QoS 1. It takes each sample once, by its sequence number, and counts repeats.
struct Historiador
{
    ClienteMqtt cliente;
    QMap<qint64, lineaprotocolo::Muestra> muestras;
    QByteArray estado;
    QList<QByteArray> setPoints;
    int repetidas = 0;
    bool suscrito = false;

    explicit Historiador(const Broker &broker)
        : cliente([&] {
              ClienteMqtt::Opciones o;
              o.host = QStringLiteral("127.0.0.1");
              o.puerto = broker.puerto();
              o.idCliente = QStringLiteral("historiador");
              o.sesionLimpia = false;
              return o;
          }())
    {
        QObject::connect(&cliente, &ClienteMqtt::conectado, [this] {
            cliente.suscribir(temas::muestras(nombre), 1);
            cliente.suscribir(temas::estado(nombre), 1);
            cliente.suscribir(temas::setPoint(nombre), 1);
        });
        QObject::connect(&cliente, &ClienteMqtt::suscrito, [this] { suscrito = true; });
        QObject::connect(&cliente, &ClienteMqtt::mensaje, [this](const ClienteMqtt::Mensaje &m) {
            if (m.tema == temas::estado(nombre)) {
                estado = m.datos;
                return;
            }
            if (m.tema == temas::setPoint(nombre)) {
                setPoints << m.datos;
                return;
            }
            for (const QByteArray &linea : m.datos.split('\n')) {
                const auto p = lineaprotocolo::leer(linea);
                const auto s = p ? lineaprotocolo::muestra(*p) : std::nullopt;
                if (!s)
                    continue;
                if (muestras.contains(s->seq))
                    ++repetidas;
                muestras.insert(s->seq, *s);
            }
        });
        QString motivo;
        cliente.conectar(&motivo);
    }
};

// The bridge, the real program, on the controller at `puerto`.
struct ProgramaPuente
{
    QProcess proceso;
    ProgramaPuente(const QString &puerto, const QString &broker, const QStringList &mas = {})
    {
        proceso.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        proceso.start(QStringLiteral(PUENTE),
                      QStringList{"--puerto", puerto, "--nombre", nombre, "--broker", broker} + mas);
        proceso.waitForStarted();
    }
    ~ProgramaPuente() { detener(); }
    bool detener()
    {
        proceso.terminate();
        return proceso.waitForFinished(10000) && proceso.exitStatus() == QProcess::NormalExit
               && proceso.exitCode() == 0;
    }
};

// The panel on the bridge's controller, as typed in the port box; ready once it may send
// (so subscribed to the samples too).
bool conectar(Form1 &f, const Broker &broker)
{
    f.txtPuerto->setText(broker.direccion() + QStringLiteral("/") + nombre);
    QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    QString motivo;
    return f.MSComm1->esRemoto() && hasta([&] { return f.MSComm1->remoto()->puedeEnviar(&motivo); });
}

// Written by the controller, read by the panel through the bridge and the broker.
bool llegan(Pty &controlador, Form1 &f, const QByteArray &escrito, uint64_t recibidas)
{
    controlador.escribir(escrito);
    return hasta([&] { return f.adquisicion().muestrasRecibidas() == recibidas; });
}

} // namespace

class TstPuente : public QObject
{
    Q_OBJECT

private slots:
    // Controller, bridge, broker, subscriber: every sample once and in order, also across a
    // broker stopped for 5 s in the middle while the subscriber is away too (its session
    // keeps what came meanwhile); the bridge's log holds the same.
    void todoEnOrdenTrasReiniciarElBroker()
    {
        Broker broker;
        auto primero = std::make_unique<Historiador>(broker);
        QVERIFY(hasta([&] { return primero->suscrito; }));
        Pty controlador;
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("r.xls"));
        ProgramaPuente puente(controlador.ruta(), broker.direccion(), {"--registro", log});
        QVERIFY(hasta([&] { return primero->estado.contains("controlador_conectado=true"); }));
        // 12,000 samples at the line's rate in 32-byte writes, i mod 255.
        constexpr int total = 12000;
        int escritas = 0;
        QTimer ritmo;
        QObject::connect(&ritmo, &QTimer::timeout, [&] {
            QByteArray pieza;
            for (int i = 0; i < 32 && escritas < total; ++i)
                pieza.append(char(escritas++ % 255));
            controlador.escribir(pieza);
        });
        ritmo.start(1000 * 32 / 1920);
        QVERIFY(hasta([&] { return primero->muestras.size() >= 3000; }));
        const auto antes = primero->muestras;
        const int repetidasAntes = primero->repetidas;
        primero.reset();
        broker.parar();
        QTest::qWait(1000);
        // The controller reports a new set point while the broker is away: it is kept too.
        controlador.escribir(QByteArray("\xff\x3c", 2));
        QTest::qWait(4000); // the outage itself, not a wait for anything
        QVERIFY(broker.empezar());
        QTest::qWait(3000); // the bridge sends what it kept to the broker, the subscriber away
        Historiador historiador(broker);
        historiador.muestras.insert(antes);
        historiador.repetidas += repetidasAntes;
        const bool llegaron = hasta([&] { return historiador.muestras.size() >= total; }, 60000);
        QVERIFY2(llegaron, qPrintable(QStringLiteral("%1 of %2 samples, the bridge's state: %3")
                                       .arg(historiador.muestras.size())
                                       .arg(total)
                                       .arg(QString::fromUtf8(historiador.estado))));
        QTest::qWait(200); // and nothing more after it
        QCOMPARE(historiador.muestras.size(), total);
        const QList<lineaprotocolo::Muestra> todas = historiador.muestras.values();
        for (int i = 0; i < total; ++i) {
            QCOMPARE(todas[i].seq, todas[0].seq + i);
            QCOMPARE(int(todas[i].valor), i % 255);
        }
        QVERIFY(hasta([&] { return !historiador.setPoints.isEmpty(); }));
        QVERIFY2(historiador.setPoints.last().contains("consigna=60i"), historiador.setPoints.last().constData());
        if (historiador.repetidas)
            qInfo("%d samples came twice from the broker (told apart by their numbers)",
                  historiador.repetidas);
        QVERIFY(puente.detener());
        QVERIFY(hasta([&] { return historiador.estado.contains("puente=\"detenido\""); }));
        QFile registro(log);
        QVERIFY(registro.open(QIODevice::ReadOnly));
        const QList<QByteArray> lineas = registro.readAll().split('\n');
        QCOMPARE(lineas.size(), total + 1);
        // Whole seconds unless --milisegundos asks for more, as the panel's log.
        const QRegularExpression conMs(QStringLiteral(":\\d\\d[.,]\\d\\d\\d\\t"));
        for (int i = 0; i < total; ++i) {
            QVERIFY(lineas[i].endsWith('\t' + QByteArray::number(i % 255) + '\r'));
            QVERIFY2(!conMs.match(QString::fromUtf8(lineas[i])).hasMatch(), lineas[i].constData());
        }
    }

    // Who may do what is the broker's: a wrong password is refused with its reason; a user
    // that may only read cannot send set points, and the panel's row says why; one that may
    // write sends, lowered to 100 as «Enviar» does. A password only in a file others cannot read.
    void usuariosYPermisos()
    {
        Broker broker({{"puente", "p1", {"velmora/+/enviar"}, {"velmora/#"}},
                       {"lector", "l1", {"velmora/#"}, {}},
                       {"operador", "o1", {"velmora/#"}, {"velmora/+/enviar"}}});
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("puente.conf"));
        {
            QFile f(config);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("# el puente del horno\nusuario = puente\ncontrasena = p1\n");
        }
        Pty controlador;
        QFile::setPermissions(config, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        {
            QProcess abierto;
            abierto.start(QStringLiteral(PUENTE), {"--puerto", controlador.ruta(), "--nombre", nombre,
                                                    "--broker", broker.direccion(), "--config", config});
            QVERIFY(abierto.waitForFinished(10000));
            QCOMPARE(abierto.exitCode(), 2);
            QVERIFY2(abierto.readAllStandardError().contains("chmod 600"), "no reason given");
        }
        QFile::setPermissions(config, QFile::ReadOwner | QFile::WriteOwner);
        ProgramaPuente puente(controlador.ruta(), broker.direccion(),
                              {"--config", config, "--permitir-consigna"});

        direccion::Direccion d{false, QStringLiteral("127.0.0.1"), broker.puerto(), nombre};
        {
            ClienteMqtt mal(direccion::opciones(d, {"lector", "mala", {}, {}, {}, {}}));
            QSignalSpy rechazos(&mal, &ClienteMqtt::rechazado);
            QVERIFY(mal.conectar(nullptr));
            QVERIFY(hasta([&] { return !rechazos.isEmpty(); }));
            QCOMPARE(rechazos.first().first().toString(),
                     QStringLiteral("el broker no lo admite: el usuario o la contraseña no son "
                                    "correctos, o ese usuario no tiene permiso"));
        }
        PuertoRemoto lector(d, {"lector", "l1", {}, {}, {}, {}});
        PuertoRemoto operador(d, {"operador", "o1", {}, {}, {}, {}});
        QVERIFY(lector.abrir(nullptr) && operador.abrir(nullptr));
        QString motivo;
        QVERIFY(hasta([&] { return operador.puedeEnviar(&motivo); }));
        QVERIFY(hasta([&] {
            return !lector.puedeEnviar(&motivo) && motivo.startsWith("el broker no deja");
        }));
        QCOMPARE(motivo, QStringLiteral("el broker no deja a este usuario publicar en velmora/t/enviar"));
        QVERIFY(!lector.enviar(40, &motivo));
        QVERIFY(operador.enviar(150, &motivo));
        QByteArray recibido;
        QVERIFY(hasta([&] { return !(recibido += controlador.leer()).isEmpty(); }));
        QCOMPARE(recibido, bytes({100}));
    }

    // Nothing listening where the address points: the panel says so once, in words, and
    // keeps trying; it neither hangs nor repeats the message every second.
    void sinBroker()
    {
        QTcpServer libre;
        QVERIFY(libre.listen(QHostAddress::LocalHost, 0));
        const quint16 puerto = libre.serverPort();
        libre.close();
        direccion::Direccion d{false, QStringLiteral("127.0.0.1"), puerto, nombre};
        PuertoRemoto remoto(d, {});
        QSignalSpy perdido(&remoto, &PuertoRemoto::perdido);
        QVERIFY(remoto.abrir(nullptr));
        QVERIFY(hasta([&] { return !perdido.isEmpty(); }, ClienteMqtt::plazoConexionMs + 3000));
        QCOMPARE(perdido.first().first().toString(),
                 QStringLiteral("ningún broker responde en 127.0.0.1:%1 (broker %2)")
                     .arg(puerto)
                     .arg(d.texto()));
        QTest::qWait(2500);
        QCOMPARE(perdido.size(), 1);
    }

    // A program on a remote controller: its step and, past a limit, the safe set point reach
    // the controller through the broker and the bridge.
    void seguridadRemota()
    {
        Broker broker;
        Pty controlador;
        ProgramaPuente puente(controlador.ruta(), broker.direccion(), {"--permitir-consigna"});
        Form1 f;
        QVERIFY(conectar(f, broker));
        QVERIFY(llegan(controlador, f, bytes({255, 30, 30, 30}), 2));
        Programa p;
        p.etapas = {{Etapa::Tipo::escalon, 40, 60000}};
        p.limiteSuperior = 50;
        p.setPointSeguro = 20;
        f.ejecutor().setPrograma(p);
        QVERIFY(f.ejecutor().iniciar());
        QByteArray recibido;
        QVERIFY(hasta([&] { return (recibido += controlador.leer()).contains(char(40)); }));
        // Two beyond the limit and one back do not stop it; the third in a row does.
        QVERIFY(llegan(controlador, f, bytes({255, 40, 51, 52, 50, 51, 52}), 7));
        QCOMPARE(f.ejecutor().estado(), Ejecutor::Estado::enMarcha);
        QVERIFY(llegan(controlador, f, bytes({53}), 8));
        QVERIFY(hasta([&] { return (recibido += controlador.leer()).contains(char(20)); }));
        QCOMPARE(recibido, bytes({40, 20}));
        QCOMPARE(f.ejecutor().fin(), Ejecutor::Fin::seguridad);
        QVERIFY2(f.ejecutor().mensajeFin().contains(QStringLiteral("límite superior 50"))
                     && f.ejecutor().mensajeFin().contains(QStringLiteral("set point seguro 20.")),
                 qPrintable(f.ejecutor().mensajeFin()));
        // Closed, the remote controller is let go: nothing more from it, nothing to it.
        f.close();
        QVERIFY(!f.MSComm1->PortOpen());
        QString motivo;
        QVERIFY(!f.MSComm1->puedeEnviar(&motivo));
        QCOMPARE(motivo, QStringLiteral("el puerto está cerrado"));
        controlador.escribir(bytes({54, 55}));
        QTest::qWait(500);
        QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(8));
    }

    // What is not a sample of this controller is counted and dropped, never shown.
    void basuraIgnoradaYContada()
    {
        Broker broker;
        direccion::Direccion d{false, QStringLiteral("127.0.0.1"), broker.puerto(), nombre};
        PuertoRemoto remoto(d, {});
        QList<lineaprotocolo::Muestra> llegadas;
        remoto.setReceptor([&](std::span<const lineaprotocolo::Muestra> m) {
            llegadas.append(QList<lineaprotocolo::Muestra>(m.begin(), m.end()));
        });
        QSignalSpy conectado(&remoto, &PuertoRemoto::conectado);
        QVERIFY(remoto.abrir(nullptr));
        QVERIFY(hasta([&] { return !conectado.isEmpty(); }));
        ClienteMqtt otro(direccion::opciones(d, {}));
        QSignalSpy publicado(&otro, &ClienteMqtt::publicado);
        QVERIFY(otro.conectar(nullptr));
        QVERIFY(hasta([&] { return otro.estaConectado(); }));
        QTest::qWait(200); // the subscription reaches the broker
        otro.publicar(temas::muestras(nombre),
                      "basura\n\xff\xfe\n"
                      "velmora,controlador=otro valor=1i,seq=1i 1000000\n"
                      "velmora,controlador=t valor=7i,consigna=30i,seq=5i 1000000\n"
                      "velmora,controlador=t valor=8i,seq=5i 1000000\n",
                      1, false);
        QVERIFY(hasta([&] { return remoto.cuentas().recibidas == 1; }));
        QCOMPARE(remoto.cuentas().ignoradas, uint64_t(3));
        QCOMPARE(remoto.cuentas().repetidas, uint64_t(1));
        QCOMPARE(llegadas.size(), 1);
        QCOMPARE(int(llegadas[0].valor), 7);
    }

    // The panel on mqtt://: the trend, the set point and its own log are what the bridge read,
    // with the samples' own times (its log and the bridge's say the same times).
    void panelRemoto()
    {
        Broker broker;
        Pty controlador;
        QTemporaryDir dir;
        const QString logPuente = dir.filePath(QStringLiteral("puente.xls"));
        const QString logPanel = dir.filePath(QStringLiteral("panel.xls"));
        // With --permitir-consigna its retained state tells the panel so: the panel has it,
        // and so its subscription to the samples made before, once it may send.
        ProgramaPuente puente(controlador.ruta(), broker.direccion(),
                              {"--registro", logPuente, "--milisegundos", "--permitir-consigna"});
        Historiador historiador(broker);
        QVERIFY(hasta([&] { return historiador.estado.contains("controlador_conectado=true"); }));
        Form1 f;
        f.setMilisegundos(true);
        QVERIFY(conectar(f, broker));
        f.txtRegistro->setText(logPanel);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        // In two batches: each sample once, whatever came in the batch before.
        QVERIFY(llegan(controlador, f, bytes({255, 30, 10, 11, 12}), 3));
        QVERIFY(llegan(controlador, f, bytes({255, 40, 13, 14}), 5));
        QTest::qWait(100);
        QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(5));
        const VentanaMuestras &v = f.ventana;
        QList<QPair<int, int>> filas;
        for (int r = v.RowCount() - 4; r <= v.RowCount(); ++r)
            filas.append({v.fila(r).dato, v.fila(r).setPoint});
        QCOMPARE(filas, (QList<QPair<int, int>>{{10, 30}, {11, 30}, {12, 30}, {13, 40}, {14, 40}}));
        f.close();
        QVERIFY(puente.detener());
        QFile a(logPuente), b(logPanel);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray delPuente = a.readAll();
        QCOMPARE(b.readAll(), delPuente);
        QCOMPARE(delPuente.count('\n'), 5);
    }
};

QTEST_MAIN(TstPuente)
#include "tst_puente.moc"
