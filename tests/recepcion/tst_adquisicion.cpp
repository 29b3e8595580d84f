#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QRandomGenerator>
#include <QTime>

#include <cmath>
#include <memory>

#include "chart/graficotendencia.h"
#include "core/variablesventana.h"
#include "log/registro.h"
#include "recepcion/adquisicion.h"
#include "serial/puertoserie.h"
#include "pseudoterminal.h"
#include "relojprueba.h"
#include "ui/form1.h"

using Filas = QList<QPair<int, int>>;
Q_DECLARE_METATYPE(Filas)

namespace {

constexpr int sinSp = VentanaMuestras::sinSetPoint; // no set point reported yet
constexpr int sinDato = VentanaMuestras::sinDato;            // a row of the fill

Filas ultimas(const VentanaMuestras &v, int n)
{
    Filas filas;
    for (int r = v.RowCount() - n + 1; r <= v.RowCount(); ++r)
        filas.append({v.fila(r).dato, v.fila(r).setPoint});
    return filas;
}

} // namespace

class TstAdquisicion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void secuencias_data()
    {
        QTest::addColumn<QList<QByteArray>>("eventos");
        QTest::addColumn<Filas>("filas");     // the newest rows, oldest first
        QTest::addColumn<int>("setPoint");
        QTest::addColumn<bool>("espera");
        QTest::addColumn<QString>("dato");
        QTest::addColumn<int>("abrirAntes"); // the event before which the port opens; -1: none

        QTest::newRow("10,255,40,12 in one chunk")
            << QList<QByteArray>{bytes({10, 255, 40, 12})} << Filas{{10, sinSp}, {12, 40}} << 40
            << false << "12" << -1;
        QTest::newRow("20,255 then 255,30")
            << QList<QByteArray>{bytes({20, 255}), bytes({255, 30})}
            << Filas{{20, sinSp}, {30, 255}} << 255 << false << "30" << -1;
        QTest::newRow("marker as the last byte waits for the next event")
            << QList<QByteArray>{bytes({7, 255})} << Filas{{sinDato, sinSp}, {7, sinSp}} << sinSp << true << "7" << -1;
        QTest::newRow("255,255 then a sample")
            << QList<QByteArray>{bytes({255, 255, 9})} << Filas{{sinDato, sinSp}, {9, 255}} << 255 << false
            << "9" << -1;
        QTest::newRow("marker then 0 is a set point of 0")
            << QList<QByteArray>{bytes({255, 77, 5, 255, 0, 6})}
            << Filas{{5, 77}, {6, 0}} << 0 << false << "6" << -1;
        QTest::newRow("byte 0 is a sample")
            << QList<QByteArray>{bytes({0, 0, 3})} << Filas{{0, sinSp}, {0, sinSp}, {3, sinSp}} << sinSp << false
            << "3" << -1;
        QTest::newRow("254 is a sample")
            << QList<QByteArray>{bytes({254})} << Filas{{sinDato, sinSp}, {254, sinSp}} << sinSp << false << "254" << -1;
        QTest::newRow("set point kept across events")
            << QList<QByteArray>{bytes({255, 50}), bytes({1}), bytes({2})}
            << Filas{{1, 50}, {2, 50}} << 50 << false << "2" << -1;
        QTest::newRow("an opening forgets a marker")
            << QList<QByteArray>{bytes({7, 255}), bytes({40, 12})}
            << Filas{{7, sinSp}, {40, sinSp}, {12, sinSp}} << sinSp << false << "12" << 1;
        QTest::newRow("an opening forgets the set point")
            << QList<QByteArray>{bytes({255, 50, 1}), bytes({2})} << Filas{{1, 50}, {2, sinSp}}
            << sinSp << false << "2" << 1;
    }
    void secuencias()
    {
        QFETCH(QList<QByteArray>, eventos);
        QFETCH(Filas, filas);
        QFETCH(int, setPoint);
        QFETCH(bool, espera);
        QFETCH(QString, dato);
        QFETCH(int, abrirAntes);
        Form1 f;
        for (qsizetype i = 0; i < eventos.size(); ++i) {
            if (i == abrirAntes)
                f.adquisicion().puertoAbierto();
            f.adquisicion().procesarEntrada(evento::comEvReceive, eventos[i]);
        }
        QCOMPARE(ultimas(f.ventana, filas.size()), filas);
        QCOMPARE(f.ventana.RowCount(), 512);
        QCOMPARE(f.variables.setPoint.value_or(sinSp), setPoint);
        QCOMPARE(f.variables.esperaSetPoint, espera);
        // The read-outs follow with the chart's next frame, without anything else happening.
        QTRY_COMPARE(f.txtDato->text(), dato);
        QVERIFY(!f.txtTiempo->text().isEmpty());
    }

    void soloSetPointsNoCambianNada()
    {
        Form1 f;
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({11}));
        f.MSChart1->redibujar();
        const auto anterior = f.variables.tiempoAnterior;
        const QString tiempo = f.txtTiempo->text();
        const uint64_t cambios = f.ventana.cambios();
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({255, 30, 255, 31, 255, 32}));
        QVERIFY(!f.MSChart1->redibujoPendiente());
        f.MSChart1->redibujar();
        QCOMPARE(f.variables.setPoint, std::optional<int16_t>(32));
        QVERIFY(f.variables.tiempoAnterior == anterior);
        QCOMPARE(f.txtTiempo->text(), tiempo);
        QCOMPARE(f.txtDato->text(), QStringLiteral("11"));
        QCOMPARE(f.ventana.cambios(), cambios);
        QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(1));
    }

    void kMuestrasEnUnEvento()
    {
        Form1 f;
        QByteArray chunk;
        for (int i = 0; i < 700; ++i)
            chunk.append(char(i % 255));
        f.adquisicion().procesarEntrada(evento::comEvReceive, chunk);
        QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(700));
        QCOMPARE(f.ventana.RowCount(), 512);
        // The window holds the last 512, in order.
        for (int r = 1; r <= 512; ++r)
            QCOMPARE(f.ventana.fila(r).dato, (700 - 512 + r - 1) % 255);
        // Nothing is drawn or written per sample: the event only asks for a frame.
        QVERIFY(f.MSChart1->redibujoPendiente());
        QVERIFY(f.txtDato->text().isEmpty());
        QTRY_COMPARE(f.txtDato->text(), QString::number(699 % 255));
    }

    void otrosEventosNoHacenNada_data()
    {
        QTest::addColumn<int>("codigo");
        for (int c : std::initializer_list<int>{evento::comEvSend, evento::comEvCTS, evento::comEvDSR, evento::comEvCD,
                      evento::comEvRing, evento::comEvEOF, evento::comEventBreak,
                      evento::comEventFrame, evento::comEventOverrun, evento::comEventRxOver,
                      evento::comEventRxParity, evento::comEventTxFull, evento::comEventDCB, 0,
                      -1, 9999})
            QTest::addRow("%d", c) << c;
        QTest::newRow("empty receive") << int(evento::comEvReceive);
    }
    void otrosEventosNoHacenNada()
    {
        QFETCH(int, codigo);
        Form1 f;
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({255}));
        const uint64_t cambios = f.ventana.cambios();
        const QByteArray entrada = codigo == evento::comEvReceive ? QByteArray() : bytes({1, 2});
        f.adquisicion().procesarEntrada(int16_t(codigo), entrada);
        f.MSChart1->redibujar();
        QCOMPARE(f.ventana.cambios(), cambios);
        QVERIFY(f.variables.esperaSetPoint);
        QVERIFY(!f.variables.setPoint);
        QVERIFY(!f.variables.tiempoAnterior);
        QVERIFY(f.txtDato->text().isEmpty());
        QVERIFY(f.txtTiempo->text().isEmpty());
    }

    // The first sample shows the local time of day; later ones the time since the previous
    // sample on the steady clock, whatever the wall clock does in between.
    void tiempoEntreMuestras_data()
    {
        QTest::addColumn<QTime>("inicio"); // local time of the first sample
        QTest::addColumn<qint64>("pasoUs");
        QTest::addColumn<qint64>("saltoUs"); // wall clock alone
        QTest::addColumn<QString>("primera");
        QTest::addColumn<QString>("segunda");
        QTest::newRow("wall clock set back 0.25 s")
            << QTime(12, 0) << qint64(1'000'000) << qint64(-1'250'000) << "43200" << "1";
        QTest::newRow("summer time ends")
            << QTime(2, 59, 59) << qint64(2'000'000) << qint64(-3'600'000'000) << "10799" << "2";
        QTest::newRow("midnight")
            << QTime(23, 59, 59, 500) << qint64(1'000'000) << qint64(0) << "86399.5" << "1";
        QTest::newRow("wall clock jumps forward")
            << QTime(0, 30) << qint64(500'000) << qint64(3'600'000'000) << "1800" << "0.5";
        QTest::newRow("1 ms apart at 23:59:59")
            << QTime(23, 59, 59) << qint64(1000) << qint64(0) << "86399" << "0.001";
    }
    void tiempoEntreMuestras()
    {
        QFETCH(QTime, inicio);
        QFETCH(qint64, pasoUs);
        QFETCH(qint64, saltoUs);
        QFETCH(QString, primera);
        QFETCH(QString, segunda);
        RelojPrueba reloj(QDateTime(QDate(2026, 12, 6), inicio));
        Form1 f;
        f.adquisicion().reloj().setFuente(&reloj);
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({5}));
        f.MSChart1->redibujar();
        QCOMPARE(f.txtTiempo->text(), primera);
        reloj.avanzar(std::chrono::microseconds(pasoUs), std::chrono::microseconds(saltoUs));
        // A set point in between is no arrival.
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({255, 9, 6}));
        f.MSChart1->redibujar();
        QCOMPARE(f.txtTiempo->text(), segunda);
    }

    // A break in the trend where the samples stopped: a pause longer than a second and than
    // ten times the controller's own spacing, or an opening of the port. Drawn over rates from
    // a slow loop to the line's, with jitter; pauses well clear of the threshold either way.
    void cortes()
    {
        QRandomGenerator azar(20261209);
        QMap<QString, QPair<int, int>> regiones; // failures, trials
        QStringList fallos;
        for (int prueba = 0; prueba < 400; ++prueba) {
            const double tasa = std::exp(azar.bounded(std::log(3840.0)) + std::log(0.5));
            const double espaciado = 1.0 / tasa;
            const double umbralBajo = std::max(1.0, 9.0 * espaciado); // jitter of ±10 %
            const double umbralAlto = std::max(1.0, 11.0 * espaciado);
            const int tipo = azar.bounded(3); // 0 short pause, 1 long pause, 2 opening
            double pausa = tipo == 0 ? espaciado + azar.bounded(0.8 * umbralBajo - espaciado)
                                     : 1.25 * umbralAlto * (1.0 + azar.bounded(4.0));
            if (tipo == 2 && azar.bounded(2))
                pausa = espaciado; // reopened at once
            const int antes = 5 + azar.bounded(80), despues = 1 + azar.bounded(40);

            VariablesVentana v;
            v.puntosX = 512;
            auto ventana = std::make_unique<VentanaMuestras>();
            llenarVentana(v, *ventana);
            Registro registro(v, [](const QString &) {}, [](const QString &) {
                return Registro::Respuesta::cancelar;
            });
            Adquisicion a(v, *ventana, registro);
            RelojPrueba reloj(QDateTime(QDate(2026, 12, 9), QTime(12, 0)));
            a.reloj().setFuente(&reloj);
            const auto pasar = [&](double segundos) {
                reloj.avanzar(std::chrono::microseconds(qint64(segundos * 1e6)));
            };
            for (int i = 0; i < antes; ++i) {
                pasar(espaciado * (0.9 + azar.bounded(0.2)));
                a.procesarEntrada(evento::comEvReceive, bytes({10}));
            }
            if (tipo == 2)
                a.puertoAbierto(QStringLiteral("otro"));
            pasar(pausa);
            for (int i = 0; i < despues; ++i) {
                a.procesarEntrada(evento::comEvReceive, bytes({20}));
                pasar(espaciado * (0.9 + azar.bounded(0.2)));
            }
            // Row, motive, and the pause to the microsecond the test clock moves by.
            QList<QPair<int, QString>> vistos, esperados;
            ventana->cortesVisibles([&](int fila, const VentanaMuestras::Corte &c) {
                vistos.append({fila, QStringLiteral("%1 %2").arg(qRound64(c.segundos * 1e6 / 16))
                                         .arg(c.motivo)});
            });
            if (tipo != 0)
                esperados.append({512 - despues + 1,
                                  QStringLiteral("%1 %2").arg(qRound64(float(qint64(pausa * 1e6) / 1e6) * 1e6 / 16))
                                      .arg(tipo == 2 ? QStringLiteral("otro")
                                                     : QStringLiteral("el controlador no envió nada"))});
            const QString region = QStringLiteral("%1/s, %2")
                                       .arg(tasa < 1 ? "<1" : tasa < 10 ? "1-10" : tasa < 100 ? "10-100" : "100-1920")
                                       .arg(QStringList{"short pause", "long pause", "opening"}[tipo]);
            regiones[region].second++;
            if (vistos != esperados) {
                regiones[region].first++;
                if (fallos.size() < 5)
                    fallos << QStringLiteral("%1/s, pause %2 s: %3 breaks, expected %4")
                                  .arg(tasa).arg(pausa).arg(vistos.size()).arg(esperados.size());
            }
        }
        int total = 0;
        for (auto r = regiones.cbegin(); r != regiones.cend(); ++r) {
            if (r->first)
                qWarning("%s: %d of %d wrong", qPrintable(r.key()), r->first, r->second);
            total += r->first;
        }
        QVERIFY2(total == 0, qPrintable(fallos.join(QStringLiteral("; "))));
    }

    void setPointEnviadoLlegaALaSiguienteMuestra()
    {
        Form1 f;
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({1}));
        f.variables.setPoint = 150; // as a send leaves it
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({2}));
        QCOMPARE(ultimas(f.ventana, 2), (Filas{{1, sinSp}, {2, 150}}));
    }

    // One click of «Enviar», one step: the controller's reports of the old set point already
    // on their way are not a step back; once it has reported the new one, the old is a step.
    void enviarEsUnEscalon()
    {
        ConPuerto b;
        QVERIFY(b.f.MSComm1->PortOpen());
        b.leer({255, 30, 20, 21});
        b.enviar(50, 300);
        b.leer({22, 255, 30, 23, 255, 50, 24});
        QCOMPARE(ultimas(b.f.ventana, 3), (Filas{{22, 50}, {23, 50}, {24, 50}}));
        QCOMPARE(b.f.adquisicion().respuesta().cuantos(), 1);
        b.reloj.avanzar(std::chrono::seconds(1));
        b.leer({255, 30, 25});
        QCOMPARE(b.f.adquisicion().respuesta().cuantos(), 2);
    }

    // A second click inside the first's second: one step, from where the loop was to the
    // second value, and neither old value reported late is a step back.
    void dobleEnviarEsUnEscalon()
    {
        ConPuerto b;
        b.leer({255, 30, 20, 21});
        b.enviar(50, 200);
        b.leer({22, 23});
        b.enviar(70, 300);
        b.leer({255, 30, 24, 255, 50, 25, 255, 70, 26});
        QCOMPARE(ultimas(b.f.ventana, 3), (Filas{{24, 70}, {25, 70}, {26, 70}}));
        const RespuestaEscalon &r = b.f.adquisicion().respuesta();
        QCOMPARE(r.cuantos(), 1);
        QCOMPARE(r.escalon(0).desde * 1000 + r.escalon(0).hasta, 30070);
        QCOMPARE(r.registro().muestras(), 5);
    }

private:
    // The window on a real pseudo-terminal and a clock the test moves, to click «Enviar» on.
    struct ConPuerto
    {
        Pty pty;
        RelojPrueba reloj{QDateTime(QDate(2026, 12, 6), QTime(10, 0))};
        Form1 f;
        ConPuerto()
        {
            f.adquisicion().reloj().setFuente(&reloj);
            f.txtPuerto->setText(pty.ruta());
            f.btnPuerto->click();
        }
        void leer(std::initializer_list<int> b) { f.adquisicion().procesarEntrada(evento::comEvReceive, bytes(b)); }
        // Clicks «Enviar» with `valor`, then lets `ms` pass.
        void enviar(int valor, int ms)
        {
            f.txtSetPoint->setText(QString::number(valor));
            f.btnEnviar->click();
            reloj.avanzar(std::chrono::milliseconds(ms));
        }
    };
};

QTEST_MAIN(TstAdquisicion)
#include "tst_adquisicion.moc"
