#include <QComboBox>
#include <QLabel>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <qcustomplot.h>

#include <cmath>
#include <map>
#include <memory>

#include "chart/ventanamuestras.h"
#include "core/variablesventana.h"
#include "hasta.h"
#include "log/registro.h"
#include "programa/ejecutor.h"
#include "pseudoterminal.h"
#include "recepcion/adquisicion.h"
#include "relojprueba.h"
#include "respuesta/superposicion.h"
#include "respuesta/ventanarespuesta.h"
#include "serial/eventoscomm.h"
#include "serial/puertoserie.h"

using namespace std::chrono;

namespace {

// The panel's receive path, its port on a real pseudo-terminal and a program runner wired as
// the panel wires them, all on a clock the test moves.
struct Banco
{
    RelojPrueba reloj{QDateTime(QDate(2026, 12, 9), QTime(12, 0))};
    VariablesVentana v;
    VentanaMuestras ventana;
    Registro registro{v, [](const QString &) {}, [](const QString &) { return Registro::Respuesta::cancelar; }};
    Adquisicion a{v, ventana, registro};
    Pty pty;
    PuertoSerie puerto;
    std::unique_ptr<Ejecutor> e;
    QStringList avisos;
    microseconds t0{};

    Banco()
    {
        v.puntosX = 512;
        llenarVentana(v, ventana);
        a.reloj().setFuente(&reloj);
        QString motivo;
        if (!puerto.abrir(pty.ruta(), pty.ruta(), &motivo))
            qFatal("%s", qPrintable(motivo));
        a.puertoAbierto();
        e = std::make_unique<Ejecutor>(a.reloj(), Ejecutor::acciones(a, puerto));
        e->escuchar(a, puerto);
        QObject::connect(e.get(), &Ejecutor::aviso, [this](const QString &t) { avisos << t; });
    }
    microseconds ahora() { return duration_cast<microseconds>(reloj.estable().time_since_epoch()) - t0; }
    void pasar(microseconds d) { reloj.avanzar(d); }
    void muestras(std::initializer_list<int> b)
    {
        QByteArray d;
        for (int x : b)
            d.append(char(x));
        a.procesarEntrada(evento::comEvReceive, d);
    }
    // `desde`: the level the controller says first, as set point and value.
    bool iniciar(const QString &texto, int desde = -1)
    {
        if (desde >= 0)
            muestras({255, desde, desde});
        const auto l = programa::leer(texto);
        if (!l.programa)
            qFatal("%s", qPrintable(l.errores.join(u'\n')));
        e->setPrograma(*l.programa);
        t0 = duration_cast<microseconds>(reloj.estable().time_since_epoch());
        return e->iniciar();
    }
    // A first-order loop with time constant `tau` answers each set point, a sample every 20 ms to the end.
    void lazo(double y, double tau)
    {
        while (e->estado() != Ejecutor::Estado::parado) {
            pasar(milliseconds(20));
            e->avanzar();
            y += (v.setPoint.value_or(0) - y) * -std::expm1(-0.02 / tau);
            muestras({int(std::lround(y))});
        }
    }
};

struct Envio
{
    microseconds t;
    int valor;
};

// Moves the clock in steps of up to `paso` as the timer would wake, noting when each byte left.
QList<Envio> correr(Banco &b, QRandomGenerator &g, microseconds paso, microseconds hastaT = hours(100))
{
    QList<Envio> envios;
    const auto leer = [&] {
        for (char c : b.pty.leer())
            envios.append({b.ahora(), uint8_t(c)});
    };
    leer();
    while (b.e->estado() != Ejecutor::Estado::parado && b.ahora() < hastaT) {
        b.pasar(microseconds(1 + g.bounded(qint64(paso.count()))));
        b.e->avanzar();
        leer();
    }
    return envios;
}

bool informar(const std::map<QString, int> &fallos, const std::map<QString, int> &casos)
{
    for (const auto &[region, n] : casos)
        qInfo("%s: %d cases, %d failed", qPrintable(region), n,
              fallos.count(region) ? fallos.at(region) : 0);
    return fallos.empty();
}

} // namespace

class TstEjecutor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Each «Escalón» goes out when the stages before it are over, by the program's own times:
    // never early, never later than the clock's next turn, and the delays do not add up.
    void tiemposDeEtapa()
    {
        QRandomGenerator g(3802);
        std::map<QString, int> fallos, casos;
        for (int caso = 0; caso < 60; ++caso) {
            Banco b;
            QString texto = QStringLiteral("Repetir %1\n").arg(1 + g.bounded(3));
            const int n = 1 + g.bounded(5);
            const microseconds paso = std::array{microseconds(1000), microseconds(50000), microseconds(700000)}[g.bounded(3)];
            QList<std::pair<int64_t, int>> etapas; // ms, set point (-1: hold)
            for (int i = 0; i < n; ++i) {
                const int64_t ms = 1 + g.bounded(paso < milliseconds(10) ? 2000 : 20000);
                const int sp = g.bounded(3) ? g.bounded(255) : -1;
                texto += sp < 0 ? QStringLiteral("Mantener %1\n").arg(programa::textoSegundos(ms))
                                : QStringLiteral("Escalón %1 %2\n").arg(sp).arg(programa::textoSegundos(ms));
                etapas.append({ms, sp});
            }
            const QString region = QStringLiteral("clock turns up to %1 ms").arg(paso.count() / 1000);
            ++casos[region];
            QVERIFY(b.iniciar(texto));
            const QList<Envio> envios = correr(b, g, paso);
            QList<Envio> esperados;
            int64_t t = 0;
            for (int r = 0; r < b.e->programa().repeticiones; ++r)
                for (const auto &[ms, sp] : etapas) {
                    if (sp >= 0)
                        esperados.append({milliseconds(t), std::min(sp, 100)});
                    t += ms;
                }
            bool bien = envios.size() == esperados.size() && b.e->fin() == Ejecutor::Fin::completo
                        && b.ahora() >= milliseconds(t) && b.ahora() <= milliseconds(t) + paso;
            for (qsizetype i = 0; bien && i < envios.size(); ++i)
                bien = envios[i].valor == esperados[i].valor && envios[i].t >= esperados[i].t
                       && envios[i].t <= esperados[i].t + paso;
            const bool rebajado = std::any_of(etapas.begin(), etapas.end(), [](auto e) { return e.second > 100; });
            bien = bien && b.avisos.size() == (rebajado ? 1 : 0);
            if (!bien) {
                ++fallos[region];
                qWarning("case %d: %s", caso, qPrintable(texto.replace(u'\n', u';')));
            }
        }
        QVERIFY(informar(fallos, casos));
    }

    // A ramp goes one count at a time from the set point in force, never before its share of
    // the time nor closer than the minimum spacing, and arrives when its time is up; one too
    // steep for that says so and takes longer.
    void rampas()
    {
        QRandomGenerator g(3803);
        std::map<QString, int> fallos, casos;
        for (int caso = 0; caso < 80; ++caso) {
            Banco b;
            const int desde = g.bounded(101);
            const int hasta = g.bounded(3) ? g.bounded(101) : g.bounded(255);
            const int64_t ms = int64_t(std::exp(std::log(10.0) + g.generateDouble() * std::log(2000.0)));
            const int fin = std::min(hasta, 100), cuentas = std::abs(fin - desde);
            const bool empinada = cuentas > 0 && milliseconds(ms) / cuentas < Ejecutor::espaciadoMinimo;
            const microseconds paso(1000);
            const QString region = QStringLiteral("%1, %2").arg(
                cuentas == 0 ? "flat" : fin > desde ? "up" : "down",
                empinada ? "too steep" : "paced");
            ++casos[region];
            QVERIFY(b.iniciar(QStringLiteral("Rampa %1 %2").arg(hasta).arg(programa::textoSegundos(ms)), desde));
            const QList<Envio> envios = correr(b, g, paso);
            bool bien = envios.size() == cuentas;
            for (qsizetype k = 0; bien && k < envios.size(); ++k) {
                const int esperado = desde + (fin > desde ? 1 : -1) * int(k + 1);
                const auto cuota = duration_cast<microseconds>(milliseconds(ms) * (k + 1) / double(cuentas));
                bien = envios[k].valor == esperado && envios[k].t >= cuota - microseconds(1)
                       && (k == 0 || envios[k].t - envios[k - 1].t >= Ejecutor::separacionMinima)
                       && (!empinada || k == 0 || envios[k].t - envios[k - 1].t >= Ejecutor::espaciadoMinimo - paso);
            }
            if (bien && cuentas > 0) {
                const microseconds llega = envios.last().t;
                bien = empinada ? llega >= Ejecutor::espaciadoMinimo * cuentas
                                : llega >= milliseconds(ms) - microseconds(1) && llega <= milliseconds(ms) + paso;
            }
            const bool dicho = std::any_of(b.avisos.begin(), b.avisos.end(),
                                           [](const QString &a) { return a.startsWith(QStringLiteral("La rampa")); });
            bien = bien && dicho == empinada && b.e->fin() == Ejecutor::Fin::completo;
            if (!bien) {
                ++fallos[region];
                qWarning("case %d: %d -> %d in %lld ms, %lld sent", caso, desde, hasta, (long long)ms,
                         (long long)envios.size());
            }
        }
        QVERIFY(informar(fallos, casos));
    }

    // A timer woken 100 ms late catches up on a ramp's counts 2 ms apart, not in a burst.
    void rampaAtrasada()
    {
        Banco b;
        QVERIFY(b.iniciar(QStringLiteral("Rampa 100 1 s"), 0));
        b.pasar(milliseconds(100));
        b.e->avanzar();
        QCOMPARE(b.pty.leer(), QByteArray(1, char(1)));
        QList<microseconds> cuando;
        while (cuando.size() < 9) {
            b.pasar(microseconds(500));
            b.e->avanzar();
            for (qsizetype k = b.pty.leer().size(); k > 0; --k)
                cuando << b.ahora();
        }
        for (qsizetype i = 0; i < cuando.size(); ++i)
            QCOMPARE(cuando[i], milliseconds(100) + milliseconds(2) * (i + 1));
    }

    // A pause holds the set point and moves the rest of the program on by its length.
    void pausa()
    {
        QRandomGenerator g(3804);
        Banco b;
        QVERIFY(b.iniciar(QStringLiteral("Rampa 40 2 s\nEscalón 60 5 s"), 20));
        correr(b, g, microseconds(1000), milliseconds(1000));
        const int antes = b.v.setPoint.value_or(-1);
        QVERIFY(antes > 25 && antes < 35);
        b.e->pausar();
        b.pasar(seconds(30));
        b.e->avanzar();
        for (int i = 0; i < 100; ++i) {
            b.pasar(milliseconds(100));
            b.e->avanzar();
        }
        QVERIFY(b.pty.leer().isEmpty());
        QCOMPARE(b.e->estado(), Ejecutor::Estado::enPausa);
        b.e->reanudar();
        const QList<Envio> envios = correr(b, g, microseconds(1000));
        QVERIFY(!envios.isEmpty());
        QCOMPARE(envios.last().valor, 60);
        // 2 s of ramp and 40 s of pause before the step.
        QVERIFY(envios.last().t >= seconds(42));
        QVERIFY(envios.last().t <= seconds(42) + milliseconds(1));
        QCOMPARE(envios[envios.size() - 2].valor, 40);
    }

    // N samples in a row beyond a limit stop the program: the safe set point is on the line
    // before the next byte is handled, and the samples after it carry it.
    void seguridad()
    {
        QRandomGenerator g(3805);
        std::map<QString, int> fallos, casos;
        Banco b; // one panel: each run starts afresh
        for (int caso = 0; caso < 300; ++caso) {
            b.avisos.clear();
            const int inferior = 10 + g.bounded(100), superior = inferior + 1 + g.bounded(100);
            const int n = 1 + g.bounded(5), seguro = g.bounded(101);
            const bool conInferior = g.bounded(2);
            QVERIFY(b.iniciar(QStringLiteral("Escalón 50 1000\nLímite superior %1\n%2Set point seguro %3\n"
                                             "Muestras fuera %4")
                                  .arg(superior).arg(conInferior ? QStringLiteral("Límite inferior %1\n").arg(inferior) : QString())
                                  .arg(seguro).arg(n), 50));
            b.pty.leer();
            const bool pausar = g.bounded(4) == 0;
            if (pausar)
                b.e->pausar();
            // Values at and around both limits: only those strictly beyond count.
            QList<int> valores;
            const int largo = 1 + g.bounded(40);
            for (int i = 0; i < largo; ++i) {
                const int opciones[] = {inferior - 1, inferior, superior, superior + 1, (inferior + superior) / 2, 0, 254};
                valores << opciones[g.bounded(7)];
            }
            int esperado = -1, seguidos = 0;
            for (qsizetype i = 0; i < valores.size() && esperado < 0; ++i) {
                const bool fuera = valores[i] > superior || (conInferior && valores[i] < inferior);
                seguidos = fuera ? seguidos + 1 : 0;
                if (seguidos == n)
                    esperado = int(i);
            }
            const QString region = QStringLiteral("%1, %2 in a row%3").arg(
                esperado < 0 ? "no stop" : valores[esperado] > superior ? "upper" : "lower").arg(n)
                .arg(pausar ? ", paused" : "");
            ++casos[region];
            bool bien = true;
            int parado = -1;
            for (qsizetype i = 0; i < valores.size();) {
                const int trozo = 1 + g.bounded(8);
                QByteArray d;
                for (int k = 0; k < trozo && i + k < valores.size(); ++k)
                    d.append(char(valores[i + k]));
                b.pasar(milliseconds(20));
                b.a.procesarEntrada(evento::comEvReceive, d);
                const QByteArray salido = b.pty.leer();
                if (b.e->estado() == Ejecutor::Estado::parado && parado < 0) {
                    parado = int(i);
                    bien = bien && esperado >= i && esperado < i + d.size() && salido == QByteArray(1, char(seguro))
                           && b.e->fin() == Ejecutor::Fin::seguridad && b.v.setPoint == seguro;
                    const QString texto = QStringLiteral("el valor %1 pasó del límite %2 %3 durante %4 muestras seguidas")
                                              .arg(esperado >= 0 ? valores[esperado] : -1)
                                              .arg(esperado >= 0 && valores[esperado] > superior ? "superior" : "inferior")
                                              .arg(esperado >= 0 && valores[esperado] > superior ? superior : inferior).arg(n);
                    bien = bien && b.avisos.size() == 1 && b.avisos[0].contains(texto)
                           && b.avisos[0].contains(QStringLiteral("Se envió el set point seguro %1.").arg(seguro));
                } else {
                    bien = bien && salido.isEmpty();
                }
                i += d.size();
            }
            bien = bien && (esperado < 0) == (parado < 0);
            b.e->detener();
            if (!bien)
                ++fallos[region];
        }
        QVERIFY(informar(fallos, casos));
    }

    // Through the port's own report: the device going away stops the run and says so.
    void puertoPerdido()
    {
        Banco b;
        QVERIFY(b.iniciar(QStringLiteral("Escalón 40 100\nLímite superior 90\nSet point seguro 0")));
        b.pty.cerrarMaestro();
        QVERIFY(hasta([&] { return b.e->estado() == Ejecutor::Estado::parado; }));
        QCOMPARE(b.e->fin(), Ejecutor::Fin::puertoPerdido);
        QCOMPARE(b.avisos.size(), 1);
        QVERIFY(b.avisos[0].startsWith(QStringLiteral("El programa se detuvo en la etapa 1, repetición 1: "
                                                      "se perdió la conexión con el controlador")));
    }

    // Each «Escalón» that changed the set point is a step of the analysis, taken with its
    // stage and repeat; one to the set point already in force is none.
    void escalonesMedidos()
    {
        Banco b;
        QVERIFY(b.iniciar(QStringLiteral("Escalón 50 3\nEscalón 30 3\nMantener 1\nEscalón 30 2\nRepetir 2"), 30));
        b.lazo(30, 0.3);
        const auto &e = b.e->escalones();
        QCOMPARE(e.size(), 4);
        const int etapas[] = {1, 2, 1, 2}, hastas[] = {50, 30, 50, 30}, reps[] = {1, 1, 2, 2};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(e[i].etapa, etapas[i]);
            QCOMPARE(e[i].repeticion, reps[i]);
            QCOMPARE(e[i].figuras.hasta, hastas[i]);
            QVERIFY(e[i].figuras.valorFinal);
            QVERIFY(std::abs(*e[i].figuras.valorFinal - hastas[i]) < 0.6);
        }
    }

    // The step window draws a stage's repeats from their own steps: each sample at its time
    // from the first one that carried the stage's set point, as read or, where the repeats
    // started from different set points, less its own starting level; its model beside it.
    void repeticionesSuperpuestas()
    {
        QRandomGenerator g(3807);
        std::map<QString, int> fallos, casos;
        for (int caso = 0; caso < 24; ++caso) {
            Banco b;
            const int n = 1 + g.bounded(4), alto = 40 + g.bounded(50), bajo = 5 + g.bounded(30);
            const int inicio = g.bounded(2) ? bajo : g.bounded(36);
            const double tau = 0.1 + 0.4 * g.generateDouble(), ruido = g.bounded(2) * 0.6;
            QVERIFY(b.iniciar(QStringLiteral("Escalón %1 %2\nEscalón %3 %4\nRepetir %5").arg(alto)
                                  .arg(programa::textoSegundos(2000 + g.bounded(2000))).arg(bajo)
                                  .arg(programa::textoSegundos(2000 + g.bounded(2000))).arg(n), inicio));
            // Each step's samples as sent: stage, repeat, (time, value).
            struct Paso { int etapa, repeticion; QList<std::pair<microseconds, int>> m; };
            QList<Paso> pasos{{b.e->etapa() + 1, 1, {}}};
            double y = inicio;
            while (b.e->estado() != Ejecutor::Estado::parado) {
                const int antes = b.v.setPoint.value_or(-1);
                b.pasar(microseconds(20000 + g.bounded(2000)));
                b.e->avanzar();
                if (b.e->estado() == Ejecutor::Estado::parado)
                    break;
                if (b.v.setPoint != antes)
                    pasos.append({b.e->etapa() + 1, b.e->repeticion() + 1, {}});
                y += (b.v.setPoint.value_or(0) - y) * -std::expm1(-0.02 / tau);
                const int dato = std::clamp(int(std::lround(y + ruido * (2 * g.generateDouble() - 1))), 0, 254);
                pasos.last().m.append({b.ahora(), dato});
                b.muestras({dato});
            }
            VentanaRespuesta w(b.a.respuesta(), nullptr);
            w.setEjecutor(*b.e);
            auto *grafico = w.findChild<QCustomPlot *>(QStringLiteral("graficoRepeticiones"));
            auto *tabla = w.findChild<QTableWidget *>(QStringLiteral("tablaRepeticiones"));
            for (int etapa = 1; etapa <= 2; ++etapa) {
                const bool distintos = etapa == 1 && n > 1 && inicio != bajo;
                const QString region = n == 1 ? "one repeat" : distintos ? "started apart" : "started alike";
                ++casos[region];
                w.superponer(etapa);
                // Under 4 s at 50 samples/s the record keeps every sample as a point of its own.
                bool bien = grafico->graphCount() == 2 * n + 1
                            && tabla->rowCount() == n && tabla->horizontalHeaderItem(4)->text() == QStringLiteral("Subida (s)")
                            && w.findChild<QComboBox *>()->currentText().endsWith(
                                n == 1 ? QStringLiteral(": 1 repetición") : QStringLiteral(": %1 repeticiones").arg(n))
                            && w.findChild<QLabel *>(QStringLiteral("lblEstado"))->text().contains(
                                n == 1 ? QStringLiteral("una sola repetición") : QStringLiteral("%1 repeticiones").arg(n));
                int r = 0;
                for (const Paso &p : pasos) {
                    if (p.etapa != etapa || !bien)
                        continue;
                    const FigurasEscalon &f = b.e->escalones()[2 * r + etapa - 1].figuras;
                    const double nivel = distintos ? f.inicial : 0.0;
                    const auto datos = grafico->graph(r)->data();
                    const auto modelo = grafico->graph(n + r)->data();
                    bien = grafico->graph(r)->name() == QStringLiteral("Repetición %1").arg(p.repeticion)
                           && datos->size() == p.m.size() && (modelo->size() > 0) == f.modelo.has_value()
                           && (!f.modelo || modelo->at(0)->key == 0) && tabla->item(r, 0)->text().toInt() == p.repeticion
                           && tabla->item(r, 4)->text() == (f.subida ? (f.subidaProvisional ? QStringLiteral("≈ ") : QString())
                                                                           + QString::number(*f.subida, 'f', 3) : QStringLiteral("—"));
                    for (int k = 0; bien && k < datos->size(); ++k)
                        bien = std::abs(datos->at(k)->key - (p.m[k].first - p.m[0].first).count() * 1e-6) < 1e-9
                               && std::abs(datos->at(k)->value - (p.m[k].second - nivel)) < 1e-9;
                    // Where the analysis fitted one, it ends where the samples do, within their noise.
                    double cola = 0;
                    for (int k = 1; k <= 10; ++k)
                        cola += (p.m[p.m.size() - k].second - nivel) / 10;
                    bien = bien && (!f.modelo || std::abs((modelo->constEnd() - 1)->value - cola) < 1.0 + ruido);
                    ++r;
                }
                if (!bien || r != n) {
                    ++fallos[region];
                    qWarning("case %d, stage %d: %d repeats, from %d to %d and %d", caso, etapa, n, inicio, alto, bajo);
                }
            }
        }
        QVERIFY(informar(fallos, casos));
    }

    // A long run keeps every step's figures, but the samples of only the last repeats of each
    // stage and of the last steps in all; the overlay draws those and says how many it left out.
    void curvasAcotadas()
    {
        {
            Banco b;
            QVERIFY(b.iniciar(QStringLiteral("Escalón 40 1\nEscalón 30 1\nRepetir 23"), 30));
            b.lazo(30, 0.1);
            const auto &e = b.e->escalones();
            QCOMPARE(e.size(), 46);
            for (const auto &x : e)
                QCOMPARE(x.tiempos.isEmpty(), x.repeticion <= 3);
            const auto v = superposicion::calcular(e, 2);
            QCOMPARE(v.curvas.size(), 20);
            QCOMPARE(v.curvas.first().repeticion, 4);
            QCOMPARE(superposicion::texto(v, 30),
                     QStringLiteral("Etapa 2 (Escalón 30): las últimas 20 de 23 repeticiones medidas, "
                                    "alineadas en su escalón."));
        }
        Banco b;
        QString texto = QStringLiteral("Repetir 19\n");
        for (int i = 0; i < 22; ++i)
            texto += QStringLiteral("Escalón %1 1\n").arg(i % 2 ? 30 : 40);
        QVERIFY(b.iniciar(texto, 30));
        b.lazo(30, 0.1);
        const auto &e = b.e->escalones();
        QCOMPARE(e.size(), 22 * 19);
        for (qsizetype i = 0; i < e.size(); ++i)
            QCOMPARE(e[i].tiempos.isEmpty(), i < e.size() - 400);
    }

};

QTEST_MAIN(TstEjecutor)
#include "tst_ejecutor.moc"
