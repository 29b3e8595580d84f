#include <QTest>

#include "pseudoterminal.h"
#include "serial/diagnostico.h"
#include "serial/ritmolectura.h"
#include "serial/vuelta.h"

using namespace std::chrono_literals;
using Tiempo = RitmoLectura::Tiempo;
// Reads as they reach the port: (bytes, milliseconds since the first).
using Lecturas = QList<QPair<int, double>>;
using Presentes = QList<dispositivos::Dispositivo>;
Q_DECLARE_METATYPE(Lecturas)
Q_DECLARE_METATYPE(Presentes)
Q_DECLARE_METATYPE(dispositivos::Identidad)

namespace {

constexpr Tiempo byte = 520833ns; // one byte at 19200 baud
Tiempo ms(double m) { return Tiempo(qint64(m * 1e6)); }
const dispositivos::Identidad ch340{0x1a86, 0x7523, {}};
const dispositivos::Identidad ftdiA{0x0403, 0x6001, QStringLiteral("A1")};
const dispositivos::Identidad ftdiB{0x0403, 0x6001, QStringLiteral("B2")};

} // namespace

// The serial link's rules, each fed what the system would show it: no device, no waiting.
class TstReglasSerie : public QObject
{
    Q_OBJECT

private slots:
    // Reading pauses for a fast trickle of small reads only, and goes on pausing while a
    // pause gathers a trickle.
    void pausa_data()
    {
        QTest::addColumn<Lecturas>("lecturas");
        QTest::addColumn<bool>("pausa"); // after the last one
        Lecturas linea, lenta, grande, corto;
        for (int i = 0; i <= 8; ++i) {
            linea << qMakePair(1, i * 0.52); // 1920 bytes a second, one at a time
            lenta << qMakePair(1, i * 22.2); // 45 a second
            grande << qMakePair(64, i * 33.3);
        }
        for (int i = 0; i <= 7; ++i)
            corto << qMakePair(1, i * 0.52);
        QTest::newRow("line rate, byte by byte") << linea << true;
        QTest::newRow("one read short of judging") << corto << false;
        QTest::newRow("45 samples a second") << lenta << false;
        QTest::newRow("large reads") << grande << false;
        QTest::newRow("just at 500 a second") << Lecturas{{1, 0}, {4, 8}, {4, 16}} << true;
        QTest::newRow("just under 500 a second") << Lecturas{{1, 0}, {4, 8}, {4, 16.1}} << false;
        QTest::newRow("a slow start is forgotten")
            << Lecturas{{1, 0}, {1, 150}, {1, 150.5}, {4, 151}, {4, 151.5}} << true;
    }
    void pausa()
    {
        QFETCH(Lecturas, lecturas);
        QFETCH(bool, pausa);
        RitmoLectura ritmo(byte);
        bool pausar = false;
        for (const auto &[n, t] : lecturas)
            pausar = ritmo.trasLectura(n, ms(t));
        QCOMPARE(pausar, pausa);
    }

    void sigueEnPausa_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<double>("msPausa");
        QTest::addColumn<bool>("otra");
        QTest::newRow("a frame's worth at the line rate") << 92 << 48.0 << true;
        QTest::newRow("slower than 500 a second") << 20 << 48.0 << false;
        QTest::newRow("nothing came") << 0 << 100.0 << false;
        QTest::newRow("a flood: large reads cost little") << 1024 << 100.0 << false;
    }
    void sigueEnPausa()
    {
        QFETCH(int, bytes);
        QFETCH(double, msPausa);
        QFETCH(bool, otra);
        RitmoLectura ritmo(byte);
        QCOMPARE(ritmo.trasPausa(bytes, ms(msPausa)), otra);
    }

    // Over how long the bytes of a read came, for the time box and the step figures.
    void llegada_data()
    {
        QTest::addColumn<double>("desdeEntrega"); // ms since the last delivery; < 0: none
        QTest::addColumn<double>("msPausa");      // < 0: not paused
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("esperando");
        QTest::addColumn<double>("msLlegada");
        QTest::newRow("the first read: the line's pace") << -1.0 << -1.0 << 5 << 5 << 5 * 0.520833;
        QTest::newRow("read late by a busy computer") << 20.0 << -1.0 << 5 << 5 << 20.0;
        QTest::newRow("at the edge of a silence") << 100.0 << -1.0 << 4 << 4 << 100.0;
        QTest::newRow("after a silence: together") << 100.5 << -1.0 << 4 << 4 << 4 * 0.520833;
        QTest::newRow("after a second's silence") << 1000.0 << -1.0 << 4 << 4 << 4 * 0.520833;
        QTest::newRow("gathered in a pause") << 5.0 << 48.0 << 90 << 90 << 48.0;
        QTest::newRow("its share of a pause") << 5.0 << 48.0 << 30 << 90 << 16.0;
    }
    void llegada()
    {
        QFETCH(double, desdeEntrega);
        QFETCH(double, msPausa);
        QFETCH(int, n);
        QFETCH(int, esperando);
        QFETCH(double, msLlegada);
        RitmoLectura ritmo(byte);
        const Tiempo ahora = 10s;
        if (desdeEntrega >= 0)
            ritmo.entregado(ahora - ms(desdeEntrega));
        const auto pausa = msPausa >= 0 ? std::optional(ms(msPausa)) : std::nullopt;
        const double medida = ritmo.llegada(n, esperando, ahora, pausa).count() / 1e6;
        QVERIFY2(std::abs(medida - msLlegada) < 1e-3, qPrintable(QString::number(medida)));
    }

    // After a loss only the device the port had is opened again by itself.
    void vuelta_data()
    {
        QTest::addColumn<QString>("abierto");
        QTest::addColumn<bool>("enlace");
        QTest::addColumn<Presentes>("alAbrir");
        QTest::addColumn<Presentes>("despues");
        QTest::addColumn<bool>("reconocible");
        QTest::addColumn<QString>("donde");
        const QString u0 = QStringLiteral("/dev/ttyUSB0"), u1 = QStringLiteral("/dev/ttyUSB1");
        QTest::newRow("serial number, back on another node")
            << u0 << false << Presentes{{u0, ftdiA}} << Presentes{{u1, ftdiA}} << true << u1;
        QTest::newRow("serial number, another adapter on its node")
            << u0 << false << Presentes{{u0, ftdiA}} << Presentes{{u0, ftdiB}} << true << "";
        QTest::newRow("serial number, two with it now: its own node")
            << u0 << false << Presentes{{u0, ftdiA}} << Presentes{{u1, ftdiA}, {u0, ftdiA}}
            << true << u0;
        QTest::newRow("no serial number, same model on another node")
            << u0 << false << Presentes{{u0, ch340}, {u1, ch340}} << Presentes{{u1, ch340}}
            << true << "";
        QTest::newRow("no serial number, another of the model comes elsewhere")
            << u0 << false << Presentes{{u0, ch340}} << Presentes{{u1, ch340}} << true << "";
        QTest::newRow("no serial number, back on its own node")
            << u0 << false << Presentes{{u0, ch340}} << Presentes{{u0, ch340}} << true << u0;
        QTest::newRow("a serial number two boards share")
            << u0 << false << Presentes{{u0, ftdiA}, {u1, ftdiA}} << Presentes{{u1, ftdiA}}
            << true << "";
        QTest::newRow("no identity at all") << QStringLiteral("/dev/pts/3") << false
                                            << Presentes{} << Presentes{{"/dev/pts/3", {}}}
                                            << false << "";
        QTest::newRow("bare name, back on its node")
            << QStringLiteral("ttyUSB0") << false << Presentes{{u0, ch340}}
            << Presentes{{u0, ch340}} << true << u0;
    }
    void vuelta()
    {
        QFETCH(QString, abierto);
        QFETCH(Presentes, alAbrir);
        QFETCH(Presentes, despues);
        QFETCH(bool, reconocible);
        QFETCH(QString, donde);
        const auto identidad = [&](const Presentes &p, const QString &u) {
            for (const auto &d : p)
                if (d.ubicacion == dispositivos::ubicacion(u))
                    return d.identidad;
            return dispositivos::Identidad{};
        };
        const Vuelta v({abierto, 0, identidad(alAbrir, abierto), alAbrir});
        QCOMPARE(v.reconocible(), reconocible);
        QCOMPARE(v.donde({0, {}, despues}), donde);
    }

    // Through a link the user named: followed once it is made again, or where it leads to a
    // device known by its serial number; a link left behind with a look-alike is not.
    void vueltaPorEnlace_data()
    {
        QTest::addColumn<dispositivos::Identidad>("antes");
        QTest::addColumn<quint64>("marca"); // of the link at the look; 0: none
        QTest::addColumn<dispositivos::Identidad>("ahora");
        QTest::addColumn<bool>("reabre");
        QTest::newRow("made again") << ch340 << quint64(2) << dispositivos::Identidad{} << true;
        QTest::newRow("not there") << ftdiA << quint64(0) << ftdiA << false;
        QTest::newRow("left behind, same serial") << ftdiA << quint64(1) << ftdiA << true;
        QTest::newRow("left behind, same model") << ch340 << quint64(1) << ch340 << false;
        QTest::newRow("left behind, another") << ftdiA << quint64(1) << ftdiB << false;
    }
    void vueltaPorEnlace()
    {
        QFETCH(dispositivos::Identidad, antes);
        QFETCH(quint64, marca);
        QFETCH(dispositivos::Identidad, ahora);
        QFETCH(bool, reabre);
        const QString enlace = QStringLiteral("/dev/serial/by-id/controlador");
        const Vuelta v({enlace, 1, antes, {{QStringLiteral("/dev/ttyUSB0"), antes}}});
        QVERIFY(v.reconocible());
        QCOMPARE(v.donde({marca, ahora, {}}), reabre ? enlace : QString());
    }

    void permiso_data()
    {
        QTest::addColumn<unsigned>("grupo");
        QTest::addColumn<QString>("nombre");
        QTest::addColumn<bool>("leeYEscribe");
        QTest::addColumn<bool>("unirse");
        QTest::newRow("dialout 0660") << 20u << "dialout" << true << true;
        QTest::newRow("root:root 0600") << 0u << "root" << false << false;
        QTest::newRow("root group 0660") << 0u << "root" << true << false;
        QTest::newRow("dialout 0640") << 20u << "dialout" << false << false;
        QTest::newRow("a terminal's tty 0620") << 5u << "tty" << false << false;
        QTest::newRow("tty 0660") << 5u << "tty" << true << false;
    }
    void permiso()
    {
        QFETCH(unsigned, grupo);
        QFETCH(QString, nombre);
        QFETCH(bool, leeYEscribe);
        QFETCH(bool, unirse);
        const QString motivo = diagnostico::motivoPermiso({grupo, nombre, leeYEscribe});
        QCOMPARE(motivo.contains(QStringLiteral("usermod -aG %1 ").arg(nombre)), unirse);
        QCOMPARE(motivo.contains(QStringLiteral("administrador")), !unirse);
    }

    // A read that finds nothing while the device is there and bytes keep coming (another
    // reader took them) is no loss; a hang-up is.
    void perdida()
    {
        Pty pty;
        const int fd = ::open(pty.ruta().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QVERIFY(pty.escribir(QByteArray("\x05\x06", 2)));
        QVERIFY(!diagnostico::esPerdida(diagnostico::estadoTrasFallo(fd, pty.ruta())));
        pty.cerrarMaestro();
        QVERIFY(diagnostico::esPerdida(diagnostico::estadoTrasFallo(fd, pty.ruta())));
        ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TstReglasSerie)
#include "tst_reglasserie.moc"
