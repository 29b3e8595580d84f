// A subscriber as a historian is: its own session kept by the broker, QoS 1, every
// controller's samples. For the bridges' benchmark: prints, per controller and in all, the
// samples taken once, those that came twice, the numbers skipped, and the latency from each
// sample's own time to its arrival here (p50, p99, worst). Asserts nothing.
// Usage: suscriptor PUERTO SEGUNDOS_SIN_NADA

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include "remoto/clientemqtt.h"
#include "remoto/lineaprotocolo.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "uso: suscriptor PUERTO SEGUNDOS_SIN_NADA\n");
        return 2;
    }
    ClienteMqtt::Opciones o;
    o.host = QStringLiteral("127.0.0.1");
    o.puerto = QString::fromLocal8Bit(argv[1]).toInt();
    o.idCliente = QStringLiteral("historiador-banco");
    o.sesionLimpia = false;
    ClienteMqtt cliente(o);
    struct Controlador
    {
        std::set<int64_t> seqs;
        uint64_t repetidas = 0;
    };
    std::map<QString, Controlador> controladores;
    std::vector<int> latencias; // ms
    latencias.reserve(50'000'000);
    QTimer quieto;
    quieto.setSingleShot(true);
    quieto.setInterval(1000 * QString::fromLocal8Bit(argv[2]).toInt());
    QObject::connect(&quieto, &QTimer::timeout, &app, &QCoreApplication::quit);
    QObject::connect(&cliente, &ClienteMqtt::conectado, [&] {
        cliente.suscribir(QStringLiteral("velmora/+/muestras"), 1);
        std::printf("listo\n");
        std::fflush(stdout);
    });
    QObject::connect(&cliente, &ClienteMqtt::mensaje, [&](const ClienteMqtt::Mensaje &m) {
        const int64_t ahora = QDateTime::currentMSecsSinceEpoch();
        const QByteArray &d = m.datos;
        for (qsizetype desde = 0; desde < d.size();) {
            qsizetype fin = d.indexOf('\n', desde);
            if (fin < 0)
                fin = d.size();
            const auto p = lineaprotocolo::leer(QByteArrayView(d).sliced(desde, fin - desde));
            desde = fin + 1;
            const auto s = p ? lineaprotocolo::muestra(*p) : std::nullopt;
            if (!s)
                continue;
            Controlador &c = controladores[p->etiqueta(QStringLiteral("controlador"))];
            if (!c.seqs.insert(s->seq).second) {
                ++c.repetidas;
                continue;
            }
            latencias.push_back(int(ahora - s->msEpoca));
        }
        quieto.start();
    });
    QString motivo;
    if (!cliente.conectar(&motivo)) {
        std::fprintf(stderr, "%s\n", qPrintable(motivo));
        return 1;
    }
    quieto.start();
    app.exec();
    uint64_t unicas = 0, repetidas = 0, huecos = 0;
    for (const auto &[nombre, c] : controladores) {
        const uint64_t hueco = c.seqs.empty() ? 0 : uint64_t(*c.seqs.rbegin() - *c.seqs.begin() + 1) - c.seqs.size();
        std::printf("controlador=%s muestras=%zu repetidas=%llu huecos=%llu\n", qPrintable(nombre),
                    c.seqs.size(), (unsigned long long)c.repetidas, (unsigned long long)hueco);
        unicas += c.seqs.size();
        repetidas += c.repetidas;
        huecos += hueco;
    }
    std::sort(latencias.begin(), latencias.end());
    const auto q = [&](double f) {
        return latencias.empty() ? -1 : latencias[std::min(latencias.size() - 1, size_t(f * latencias.size()))];
    };
    std::printf("total muestras=%llu repetidas=%llu huecos=%llu latencia_p50_ms=%d latencia_p99_ms=%d "
                "latencia_max_ms=%d\n",
                (unsigned long long)unicas, (unsigned long long)repetidas, (unsigned long long)huecos,
                q(0.5), q(0.99), latencias.empty() ? -1 : latencias.back());
    return 0;
}
