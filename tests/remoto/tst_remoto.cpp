#include <QRandomGenerator>
#include <QTest>

#include <deque>
#include <set>

#include "remoto/colamuestras.h"
#include "remoto/direccion.h"
#include "remoto/lineaprotocolo.h"

using namespace lineaprotocolo;

namespace {

// A name drawn from letters and everything the protocol must escape.
QString nombreAlAzar(QRandomGenerator &azar)
{
    static const QString letras = QStringLiteral("ab Z09,=\\\"ñé_-.:");
    QString nombre;
    const int n = 1 + azar.bounded(12);
    for (int i = 0; i < n; ++i)
        nombre += letras[azar.bounded(int(letras.size()))];
    return nombre;
}

} // namespace

class TstRemoto : public QObject
{
    Q_OBJECT

private slots:
    // What Telegraf and a subscriber read: the documented line, byte for byte.
    void escribirMuestra_data()
    {
        QTest::addColumn<QString>("nombre");
        QTest::addColumn<int>("consigna"); // -1: not known yet
        QTest::addColumn<QByteArray>("linea");
        QTest::newRow("plain") << "horno1" << 30
                               << QByteArray("velmora,controlador=horno1 valor=37i,consigna=30i,"
                                             "seq=1765280000123000i 1765280000123000000\n");
        QTest::newRow("set point unknown") << "horno1" << -1
                                           << QByteArray("velmora,controlador=horno1 valor=37i,"
                                                         "seq=1765280000123000i 1765280000123000000\n");
        QTest::newRow("space, comma, equals, backslash escaped")
            << "horno 1,a=b\\c" << 0
            << QByteArray("velmora,controlador=horno\\ 1\\,a\\=b\\\\c valor=37i,consigna=0i,"
                          "seq=1765280000123000i 1765280000123000000\n");
    }
    void escribirMuestra()
    {
        QFETCH(QString, nombre);
        QFETCH(int, consigna);
        QFETCH(QByteArray, linea);
        Muestra m{1765280000123000, 1765280000123, 37, std::nullopt};
        if (consigna >= 0)
            m.consigna = uint8_t(consigna);
        QByteArray salida;
        escribir(salida, clave(QLatin1String(medidaMuestras), nombre), m);
        QCOMPARE(salida, linea);
        const auto punto = leer(salida);
        QVERIFY(punto);
        QCOMPARE(punto->etiqueta(QStringLiteral("controlador")), nombre);
        QCOMPARE(muestra(*punto), std::optional<Muestra>(m));
    }

    // Lines that are not a sample of ours read as nothing, whatever they hold.
    void lineasQueNoSonMuestras_data()
    {
        QTest::addColumn<QByteArray>("linea");
        QTest::addColumn<bool>("esPunto"); // still a line of the protocol
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("no fields") << QByteArray("velmora,controlador=a") << false;
        QTest::newRow("a field with no value") << QByteArray("velmora valor= 1") << false;
        QTest::newRow("an integer that is not") << QByteArray("velmora valor=3xi,seq=1i 1") << false;
        QTest::newRow("a quote never closed") << QByteArray("velmora t=\"abc 1") << false;
        QTest::newRow("a time that is not") << QByteArray("velmora valor=3i,seq=1i 12a") << false;
        QTest::newRow("an empty tag value") << QByteArray("velmora,controlador= valor=3i 1") << false;
        QTest::newRow("binary") << QByteArray("\xff\xfe\x00\x01", 4) << false;
        QTest::newRow("no time") << QByteArray("velmora valor=3i,seq=1i") << true;
        QTest::newRow("no sequence number") << QByteArray("velmora valor=3i 1") << true;
        QTest::newRow("a value of 255, the marker") << QByteArray("velmora valor=255i,seq=1i 1") << true;
        QTest::newRow("a negative value") << QByteArray("velmora valor=-1i,seq=1i 1") << true;
        QTest::newRow("a value as a float") << QByteArray("velmora valor=3,seq=1i 1") << true;
        QTest::newRow("a set point of 256") << QByteArray("velmora valor=3i,consigna=256i,seq=1i 1") << true;
        QTest::newRow("another measurement") << QByteArray("cpu valor=3i,seq=1i 1") << true;
    }
    void lineasQueNoSonMuestras()
    {
        QFETCH(QByteArray, linea);
        QFETCH(bool, esPunto);
        const auto punto = leer(linea);
        QCOMPARE(bool(punto), esPunto);
        QVERIFY(!punto || !muestra(*punto));
    }

    // Any point written reads back as it was: names with every character the protocol
    // escapes, fields of every type, with and without a time. A seeded draw.
    void idaYVuelta()
    {
        QRandomGenerator azar(39);
        int fallos = 0;
        for (int i = 0; i < 2000; ++i) {
            Punto p;
            p.medida = nombreAlAzar(azar);
            for (int k = azar.bounded(3); k > 0; --k)
                p.etiquetas.emplace_back(nombreAlAzar(azar), nombreAlAzar(azar));
            for (int k = 1 + azar.bounded(4); k > 0; --k) {
                Valor v;
                v.tipo = Valor::Tipo(azar.bounded(4));
                v.entero = qint64(azar.generate64());
                v.real = (azar.generateDouble() - 0.5) * std::pow(10.0, azar.bounded(-20, 20));
                v.booleano = azar.bounded(2);
                v.texto = nombreAlAzar(azar);
                // What the type leaves unused is not written: compare what is.
                if (v.tipo != Valor::Tipo::entero)
                    v.entero = 0;
                if (v.tipo != Valor::Tipo::real)
                    v.real = 0;
                if (v.tipo != Valor::Tipo::booleano)
                    v.booleano = false;
                if (v.tipo != Valor::Tipo::texto)
                    v.texto.clear();
                p.campos.emplace_back(nombreAlAzar(azar), v);
            }
            if (azar.bounded(2))
                p.ns = qint64(azar.generate64() >> 1);
            QByteArray linea;
            escribir(linea, p);
            const auto leido = leer(linea);
            const bool igual = leido && leido->medida == p.medida && leido->etiquetas == p.etiquetas
                               && leido->campos == p.campos && leido->ns == p.ns;
            if (!igual && ++fallos <= 5)
                qWarning("%s", linea.constData());
        }
        QCOMPARE(fallos, 0);
    }

    // The bridge's queue against a plain model of it, over a seeded draw of what can happen:
    // samples read, batches sent, acknowledged in any order, the connection lost (all goes
    // again), more samples than it holds (the oldest go, counted). What leaves is only what
    // the broker acknowledged at the front; what goes out is always the oldest not yet sent.
    void cola()
    {
        QRandomGenerator azar(3939);
        const QByteArray clave = lineaprotocolo::clave(QStringLiteral("velmora"), QStringLiteral("t"));
        int fallos = 0;
        for (int prueba = 0; prueba < 300 && fallos == 0; ++prueba) {
            const size_t capacidad = 1 + azar.bounded(40);
            ColaMuestras c(capacidad);
            std::deque<int64_t> modelo;            // seqs held, oldest first
            std::deque<std::pair<int, int64_t>> vuelo; // mid, last seq of the batch
            std::set<int> confirmados;
            size_t enviadas = 0;
            uint64_t descartadas = 0;
            int64_t seq = 1;
            int mid = 1;
            for (int paso = 0; paso < 400; ++paso) {
                const int que = azar.bounded(10);
                if (que < 5) {
                    c.agregar({seq, seq, uint8_t(seq % 255), std::nullopt});
                    if (modelo.size() == capacidad) {
                        const int64_t fuera = modelo.front();
                        modelo.pop_front();
                        ++descartadas;
                        if (enviadas > 0) {
                            --enviadas;
                            if (vuelo.front().second == fuera)
                                vuelo.pop_front(); // the whole batch went
                        }
                    }
                    modelo.push_back(seq++);
                } else if (que < 8) {
                    const size_t maximo = 1 + azar.bounded(8);
                    const auto lote = c.siguiente(clave, maximo);
                    const size_t esperadas = std::min(maximo, modelo.size() - enviadas);
                    if (bool(lote) != (esperadas > 0)) {
                        ++fallos;
                        break;
                    }
                    if (!lote)
                        continue;
                    QByteArray datos;
                    for (size_t k = 0; k < esperadas; ++k) {
                        const int64_t s = modelo[enviadas + k];
                        lineaprotocolo::escribir(datos, clave, {s, s, uint8_t(s % 255), std::nullopt});
                    }
                    if (lote->datos != datos || lote->cuantas != esperadas) {
                        ++fallos;
                        break;
                    }
                    c.enviado(mid, *lote);
                    vuelo.push_back({mid++, modelo[enviadas + esperadas - 1]});
                    enviadas += esperadas;
                } else if (que < 9 && !vuelo.empty()) {
                    const int m = vuelo[azar.bounded(int(vuelo.size()))].first;
                    c.confirmado(m);
                    confirmados.insert(m);
                    while (!vuelo.empty() && confirmados.count(vuelo.front().first)) {
                        while (!modelo.empty() && modelo.front() <= vuelo.front().second) {
                            modelo.pop_front();
                            --enviadas;
                        }
                        vuelo.pop_front();
                    }
                } else {
                    c.reenviarTodo();
                    vuelo.clear();
                    enviadas = 0;
                }
                if (c.pendientes() != modelo.size() || c.sinEnviar() != modelo.size() - enviadas
                    || c.enVuelo() != vuelo.size() || c.descartadas() != descartadas) {
                    qWarning("capacity %zu, step %d: held %zu/%zu, unsent %zu/%zu, batches %zu/%zu",
                             capacidad, paso, c.pendientes(), modelo.size(), c.sinEnviar(),
                             modelo.size() - enviadas, c.enVuelo(), vuelo.size());
                    ++fallos;
                    break;
                }
            }
        }
        QCOMPARE(fallos, 0);
    }

    // Where a controller is published, as typed in the port box or given to the bridge.
    void direcciones_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<bool>("conNombre");
        QTest::addColumn<QString>("resultado"); // the address as the panel writes it, or the reason
        QTest::newRow("default port") << "mqtt://planta.local/horno1" << true << "mqtt://planta.local:1883/horno1";
        QTest::newRow("TLS default port") << "mqtts://planta.local/horno1" << true << "mqtts://planta.local:8883/horno1";
        QTest::newRow("a port") << "MQTT://127.0.0.1:18830/horno 1" << true << "mqtt://127.0.0.1:18830/horno 1";
        QTest::newRow("IPv6") << "mqtt://[::1]:1884/h" << true << "mqtt://[::1]:1884/h";
        QTest::newRow("the bridge's broker") << "mqtt://b:1" << false << "mqtt://b:1";
        QTest::newRow("no name") << "mqtt://b/" << true << "falta el nombre del controlador tras la barra";
        QTest::newRow("a name for a broker") << "mqtt://b/x" << false << "la dirección del broker no lleva nombre de controlador";
        QTest::newRow("a wildcard in the name") << "mqtt://b/h+" << true << "el nombre no puede llevar «/», «+» ni «#»";
        QTest::newRow("a level in the name") << "mqtt://b/a/b" << true << "el nombre no puede llevar «/», «+» ni «#»";
        QTest::newRow("credentials in it") << "mqtt://u:p@b/h" << true
                                           << "el usuario y la contraseña van en el archivo de configuración, nunca en la dirección";
        QTest::newRow("another scheme") << "http://b/h" << true << "no es una dirección mqtt://SERVIDOR[:PUERTO]/NOMBRE";
        QTest::newRow("port 0") << "mqtt://b:0/h" << true << "el puerto debe estar entre 1 y 65535";
    }
    void direcciones()
    {
        QFETCH(QString, texto);
        QFETCH(bool, conNombre);
        QFETCH(QString, resultado);
        QString motivo;
        const auto d = direccion::leer(texto, conNombre, &motivo);
        QCOMPARE(d ? d->texto() : motivo, resultado);
        QVERIFY(direccion::esMqtt(texto) == !texto.startsWith(QLatin1String("http")));
    }
};

QTEST_MAIN(TstRemoto)
#include "tst_remoto.moc"
