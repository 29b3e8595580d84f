#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <cmath>
#include <random>

#include "pseudoterminal.h"
#include "serial/diagnostico.h"
#include "serial/ritmolectura.h"
#include "serial/vuelta.h"

using namespace std::chrono_literals;
using Tiempo = RitmoLectura::Tiempo;
using dispositivos::Identidad;

namespace {

constexpr Tiempo byte = 520833ns; // one byte at 19200 baud
Tiempo ms(double m) { return Tiempo(qint64(m * 1e6)); }

// "bytes@ms ..." : reads as they reach the port; "aN*bytes/ms": N reads that far apart.
QList<QPair<int, double>> lecturas(const QString &texto)
{
    QList<QPair<int, double>> l;
    for (const QString &parte : texto.split(u' ')) {
        if (parte.startsWith(u'a')) {
            const QStringList r = parte.mid(1).split(QRegularExpression(QStringLiteral("[*/]")));
            for (int i = 0; i < r[0].toInt(); ++i)
                l.append({r[1].toInt(), i * r[2].toDouble()});
        } else {
            l.append({parte.section(u'@', 0, 0).toInt(), parte.section(u'@', 1).toDouble()});
        }
    }
    return l;
}

// "node=identity,..." with identities ch340 (no serial), a1 and b2 (one model, two serials).
QList<dispositivos::Dispositivo> presentes(const QString &texto)
{
    const QHash<QString, Identidad> ids{{"ch340", {0x1a86, 0x7523, {}}},
                                        {"a1", {0x0403, 0x6001, "A1"}},
                                        {"b2", {0x0403, 0x6001, "B2"}},
                                        {"-", {}}};
    QList<dispositivos::Dispositivo> l;
    for (const QString &d : texto.split(u',', Qt::SkipEmptyParts))
        l.append({QStringLiteral("/dev/") + d.section(u'=', 0, 0), ids.value(d.section(u'=', 1))});
    return l;
}

} // namespace

// The serial link's rules, each fed what the system would show it: no device, no waiting.
class TstReglasSerie : public QObject
{
    Q_OBJECT

private slots:
    // Reading pauses for a fast trickle of small reads only.
    void pausa_data()
    {
        QTest::addColumn<QString>("leidas");
        QTest::addColumn<bool>("pausa"); // after the last one
        QTest::newRow("line rate, byte by byte") << "a9*1/0.52" << true;
        QTest::newRow("one read short of judging") << "a8*1/0.52" << false;
        QTest::newRow("45 samples a second") << "a9*1/22.2" << false;
        QTest::newRow("large reads") << "a9*64/33.3" << false;
        QTest::newRow("just at 500 a second") << "1@0 4@8 4@16" << true;
        QTest::newRow("just under 500 a second") << "1@0 4@8 4@16.1" << false;
        QTest::newRow("a slow start is forgotten") << "1@0 1@150 1@150.5 4@151 4@151.5" << true;
    }
    void pausa()
    {
        QFETCH(QString, leidas);
        RitmoLectura ritmo(byte);
        bool pausar = false;
        for (const auto &[n, t] : lecturas(leidas))
            pausar = ritmo.trasLectura(n, ms(t));
        QTEST(pausar, "pausa");
    }

    // A pause that gathered a trickle is followed by another.
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
        QTEST(RitmoLectura(byte).trasPausa(bytes, ms(msPausa)), "otra");
    }

    // Over how long the bytes of a read came, for the time box and the step figures.
    void llegada_data()
    {
        QTest::addColumn<double>("desdeEntrega"); // ms since the last delivery; < 0: none
        QTest::addColumn<double>("msPausa");      // < 0: not paused
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("esperando");
        QTest::addColumn<double>("msLlegada");
        const double b = 0.520833;
        QTest::newRow("the first read: the line's pace") << -1.0 << -1.0 << 5 << 5 << 5 * b;
        QTest::newRow("read late by a busy computer") << 20.0 << -1.0 << 5 << 5 << 20.0;
        QTest::newRow("at the edge of a silence") << 100.0 << -1.0 << 4 << 4 << 100.0;
        QTest::newRow("after a silence: together") << 100.5 << -1.0 << 4 << 4 << 4 * b;
        QTest::newRow("after a second's silence") << 1000.0 << -1.0 << 4 << 4 << 4 * b;
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
        if (desdeEntrega >= 0)
            ritmo.entregado(1, 10s - ms(desdeEntrega));
        const auto pausa = msPausa >= 0 ? std::optional(ms(msPausa)) : std::nullopt;
        const double medida = ritmo.llegada(n, esperando, 10s, pausa).count() / 1e6;
        QVERIFY2(std::abs(medida - msLlegada) < 1e-3, qPrintable(QString::number(medida)));
    }

    // A steady stream read late by a stalled computer is timed at its own pace; bytes that
    // come after a silence, at the line's. Each read's samples are spread evenly over its
    // arrival ending at the read, as the pipeline does; checked against when they were sent.
    void llegadaTrasUnaEspera()
    {
        std::mt19937 g(4105);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        QMap<QString, QPair<int, int>> porRegion; // failed, drawn
        for (int caso = 0; caso < 400; ++caso) {
            const double s = 2.0 * std::pow(25.0, u(g)); // ms a byte, 2 to 50
            RitmoLectura ritmo(byte);
            double t = 1000.0;
            for (int i = 0; i < 30; ++i) { // the stream as it comes, a few bytes a read, some jitter
                const int n = 1 + int(3 * u(g));
                ritmo.entregado(n, ms(t += n * s * (0.8 + 0.4 * u(g))));
            }
            // The reader stalled and gets the stream's bytes of the whole stall at once; or
            // the controller fell silent, then wrote a few bytes at once; or the port was opened
            // again on one that writes 64 at once after a silence its predecessor's pace spans.
            const bool parada = caso % 3 == 0, otro = caso % 3 == 2;
            if (otro) {
                ritmo.reiniciar();
                ritmo.entregado(1, ms(t));
            }
            const double espera = parada ? 100.0 + 2900.0 * u(g)
                                  : otro ? 100.0 + (128.0 * s - 100.0) * u(g)
                                         : 100.0 * std::pow(600.0, u(g));
            const int k = otro ? 64 : std::max(1, int(parada ? espera / s : std::min(64.0, espera / s / 4 * u(g))));
            const double ahora = t + espera;
            const double llegada = ritmo.llegada(k, k, ms(ahora), std::nullopt).count() / 1e6;
            double error = 0.0;
            for (int i = 0; i < k; ++i) {
                const double enviado = parada ? t + espera * (i + 1) / k : ahora - (k - 1 - i) * byte.count() / 1e6;
                error = std::max(error, std::abs(ahora - llegada + llegada * (i + 1) / k - enviado));
            }
            auto &r = porRegion[QStringLiteral("%1 %2 1 s").arg(parada ? "stall" : otro ? "reopened" : "silence",
                                                                 espera < 1000 ? "<" : ">=")];
            ++r.second;
            r.first += error > s + 1e-6;
        }
        int fallos = 0;
        for (auto it = porRegion.cbegin(); it != porRegion.cend(); ++it) {
            qInfo().noquote() << it.key() << ":" << it->first << "of" << it->second << "off by over a byte's time";
            fallos += it->first;
        }
        QCOMPARE(fallos, 0);
    }

    // After a loss only the device the port had is opened again by itself: through a link
    // the user named once it is made again, or where it leads to a device known by its serial
    // number; a device by its serial number wherever it is, while no other shares it; one
    // without (cheap adapters) only on its own node; nothing that has no identity.
    void vuelta_data()
    {
        QTest::addColumn<QString>("abierto"); // "link:" opened through a link to the first
        QTest::addColumn<QString>("alAbrir");
        QTest::addColumn<QString>("despues"); // "link:" the link made again first
        QTest::addColumn<QString>("donde");
        QTest::newRow("serial number, back on another node")
            << "ttyUSB0" << "ttyUSB0=a1" << "ttyUSB1=a1" << "/dev/ttyUSB1";
        QTest::newRow("serial number, another adapter on its node")
            << "ttyUSB0" << "ttyUSB0=a1" << "ttyUSB0=b2" << "";
        QTest::newRow("serial number, two with it now: its own node")
            << "ttyUSB0" << "ttyUSB0=a1" << "ttyUSB1=a1,ttyUSB0=a1" << "/dev/ttyUSB0";
        QTest::newRow("a serial number two boards share")
            << "ttyUSB0" << "ttyUSB0=a1,ttyUSB1=a1" << "ttyUSB1=a1" << "";
        QTest::newRow("no serial number, the other board of the model")
            << "ttyUSB0" << "ttyUSB0=ch340,ttyUSB1=ch340" << "ttyUSB1=ch340" << "";
        QTest::newRow("no serial number, another of the model comes elsewhere")
            << "ttyUSB0" << "ttyUSB0=ch340" << "ttyUSB1=ch340" << "";
        QTest::newRow("no serial number, back on its own node")
            << "ttyUSB0" << "ttyUSB0=ch340" << "ttyUSB0=ch340" << "/dev/ttyUSB0";
        QTest::newRow("no identity at all") << "pts/3" << "pts/3=-" << "pts/3=-" << "";
        QTest::newRow("link made again") << "link:" << "ttyUSB0=ch340" << "link:" << "link";
        QTest::newRow("link not there") << "link:" << "ttyUSB0=a1" << "" << "";
        QTest::newRow("link left behind, same serial number")
            << "link:" << "ttyUSB0=a1" << "ttyUSB0=a1" << "link";
        QTest::newRow("link left behind, same model") << "link:" << "ttyUSB0=ch340"
                                                      << "ttyUSB0=ch340" << "";
        QTest::newRow("link left behind, another") << "link:" << "ttyUSB0=a1" << "ttyUSB0=b2"
                                                   << "";
    }
    void vuelta()
    {
        QFETCH(QString, abierto);
        QFETCH(QString, alAbrir);
        QFETCH(QString, despues);
        QFETCH(QString, donde);
        const QString enlace = QStringLiteral("link");
        const bool porEnlace = abierto == QStringLiteral("link:");
        const auto antes = presentes(alAbrir);
        const auto ahora = presentes(QString(despues).remove(QStringLiteral("link:")));
        Identidad identidad = antes[0].identidad; // a link leads to the first
        for (const auto &d : antes)
            if (d.ubicacion == dispositivos::ubicacion(abierto))
                identidad = d.identidad;
        const Vuelta v({porEnlace ? enlace : abierto, quint64(porEnlace), identidad, antes});
        QCOMPARE(v.reconocible(), porEnlace || antes[0].identidad.conocida());
        Vuelta::Mirada mirada{0, {}, ahora};
        if (porEnlace && !despues.isEmpty()) // made again (another file), or left behind
            mirada = {despues.startsWith(enlace) ? 2u : 1u, ahora.value(0).identidad, {}};
        QCOMPARE(v.donde(mirada), donde);
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

    // Which rights the check asks for, as a user who is not the administrator meets them
    // (the suite runs as root, whom access(2) grants everything).
    void accesoNegado_data()
    {
        QTest::addColumn<int>("negado"); // the rights the system refuses
        QTest::newRow("read and write") << 0;
        QTest::newRow("readable, not writable") << int(W_OK);
        QTest::newRow("writable, not readable") << int(R_OK);
    }
    void accesoNegado()
    {
        QFETCH(int, negado);
        QTemporaryFile dispositivo;
        QVERIFY(dispositivo.open());
        const auto permisos = diagnostico::permisosNegados(
            dispositivo.fileName(), [&](const char *, int modo) {
                errno = EACCES;
                return modo & negado ? -1 : 0;
            });
        QCOMPARE(permisos.has_value(), negado != 0);
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
