#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

#include "programa/programa.h"
#include "programa/resultados.h"

namespace {

Programa azar(QRandomGenerator &g)
{
    Programa p;
    const int n = 1 + g.bounded(12);
    for (int i = 0; i < n; ++i) {
        Etapa e;
        e.tipo = Etapa::Tipo(g.bounded(3));
        e.setPoint = e.tipo == Etapa::Tipo::mantener ? 0 : g.bounded(Programa::maximoSetPoint + 1);
        // Whole seconds, tenths, thousandths, and the edges: 1 ms and the longest.
        switch (g.bounded(4)) {
        case 0: e.ms = 1000LL * (1 + g.bounded(3600)); break;
        case 1: e.ms = 100LL * (1 + g.bounded(10000)); break;
        case 2: e.ms = 1 + g.bounded(1000000); break;
        default: e.ms = g.bounded(2) ? 1 : Programa::maximoMs; break;
        }
        p.etapas << e;
    }
    p.repeticiones = g.bounded(2) ? 1 : 1 + g.bounded(Programa::maximoRepeticiones);
    if (g.bounded(2)) {
        const int inferior = g.bounded(254);
        if (g.bounded(2))
            p.limiteInferior = inferior;
        p.limiteSuperior = inferior + 1 + g.bounded(254 - inferior);
        p.setPointSeguro = g.bounded(101);
        p.muestrasFuera = 1 + g.bounded(1000);
    }
    return p;
}

} // namespace

class TstPrograma : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void etapas()
    {
        const auto l = programa::leer(QStringLiteral(
            "# horno\n"
            "  escalón 50 10 s   # subir\n"
            "ESCALON 30 2.5s\n"
            "Rampa 80 50,25\n"
            "Mantener 0.001 s\n"
            "Repetir 5\n"
            "Límite superior 90\n"
            "limite inferior 5\n"
            "Set point seguro 20\n"
            "Muestras fuera 4\n"));
        QVERIFY2(l.errores.isEmpty(), qPrintable(l.errores.join(u'\n')));
        const Programa &p = *l.programa;
        QCOMPARE(p.etapas, (QList<Etapa>{{Etapa::Tipo::escalon, 50, 10000},
                                          {Etapa::Tipo::escalon, 30, 2500},
                                          {Etapa::Tipo::rampa, 80, 50250},
                                          {Etapa::Tipo::mantener, 0, 1}}));
        QCOMPARE(p.repeticiones, 5);
        QCOMPARE(p.limiteSuperior, 90);
        QCOMPARE(p.limiteInferior, 5);
        QCOMPARE(p.setPointSeguro, 20);
        QCOMPARE(p.muestrasFuera, 4);
        QCOMPARE(programa::leer(QStringLiteral("Mantener 1")).programa->muestrasFuera, 3);
        QCOMPARE(programa::leer(QStringLiteral("Mantener 1\n").repeated(1000)).programa->etapas.size(), 1000);
    }

    // Every bad line is said, each with its number (several messages: one a line).
    void lineasMalas_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<QString>("mensajes");
        const QString tiempo = QStringLiteral("Línea 1: el tiempo de «Escalón» debe ser un número de segundos "
                                              "mayor que 0, con hasta tres decimales, como "
                                              "«Escalón 50 10 s»");
        QTest::newRow("unknown") << "Mantener 1\nSubir 50"
            << "Línea 2: no se entiende «Subir 50»: una línea empieza por Escalón, Rampa, Mantener, "
               "Repetir, Límite superior, Límite inferior, Set point seguro o Muestras fuera";
        QTest::newRow("step without time") << "Escalón 50"
            << "Línea 1: «Escalón» lleva un set point y un tiempo en segundos, como «Escalón 50 10 s»";
        QTest::newRow("ramp without time") << "\n\nRampa 50"
            << "Línea 3: «Rampa» lleva un set point y un tiempo en segundos, como «Rampa 50 10 s»";
        QTest::newRow("set point 255") << "Escalón 255 10"
            << "Línea 1: el set point de «Escalón» debe ser un número entero de 0 a 254 («Escalón 255 10»)";
        QTest::newRow("negative set point") << "Rampa -1 10"
            << "Línea 1: el set point de «Rampa» debe ser un número entero de 0 a 254 («Rampa -1 10»)";
        QTest::newRow("time 0") << "Escalón 50 0 s" << tiempo + " («Escalón 50 0 s»)";
        QTest::newRow("four decimals") << "Escalón 50 0.0005" << tiempo + " («Escalón 50 0.0005»)";
        QTest::newRow("something after") << "Escalón 50 10 s más" << tiempo + " («Escalón 50 10 s más»)";
        QTest::newRow("over a week") << "Escalón 50 604800.001" << tiempo + " («Escalón 50 604800.001»)";
        QTest::newRow("hold without time") << "Mantener"
            << "Línea 1: «Mantener» lleva un tiempo en segundos mayor que 0, con hasta tres "
               "decimales, como «Mantener 30 s» («Mantener»)";
        QTest::newRow("repeat 0") << "Mantener 1\nRepetir 0"
            << "Línea 2: «Repetir» lleva un número entero de 1 a 1000 («Repetir 0»)";
        QTest::newRow("safe set point over 100") << "Mantener 1\nSet point seguro 101"
            << "Línea 2: «Set point seguro» lleva un número entero de 0 a 100 («Set point seguro 101»)";
        QTest::newRow("upper limit 255") << "Mantener 1\nLímite superior 255\nSet point seguro 0"
            << "Línea 2: «Límite superior» lleva un número entero de 0 a 254 («Límite superior 255»)";
        QTest::newRow("samples 0") << "Mantener 1\nMuestras fuera 0"
            << "Línea 2: «Muestras fuera» lleva un número entero de 1 a 1000 («Muestras fuera 0»)";
        QTest::newRow("twice") << "Repetir 2\nMantener 1\nRepetir 3"
            << "Línea 3: «Repetir» ya se dio en la línea 1";
        QTest::newRow("limits crossed")
            << "Mantener 1\nLímite superior 40\nLímite inferior 40\nSet point seguro 0"
            << "Línea 3: el límite inferior (40) debe quedar por debajo del superior (40)";
        QTest::newRow("limit without safe set point") << "Mantener 1\nLímite inferior 10"
            << "Línea 2: con un límite hace falta «Set point seguro», el que se envía al pasarlo";
        QTest::newRow("no stages") << "# nada\nRepetir 2"
            << "El programa no tiene etapas: escriba al menos una línea Escalón, Rampa o Mantener";
        QTest::newRow("over 1000 stages") << QStringLiteral("Mantener 1\n").repeated(1002)
            << "Línea 1001: un programa tiene como mucho 1000 etapas\n"
               "Línea 1002: un programa tiene como mucho 1000 etapas";
        QTest::newRow("each bad line with its number") << "Escalón 50\nMantener 2\nRampa x 3\nMantener y"
            << "Línea 1: «Escalón» lleva un set point y un tiempo en segundos, como «Escalón 50 10 s»\n"
               "Línea 3: el set point de «Rampa» debe ser un número entero de 0 a 254 («Rampa x 3»)\n"
               "Línea 4: «Mantener» lleva un tiempo en segundos mayor que 0, con hasta tres decimales, "
               "como «Mantener 30 s» («Mantener y»)";
    }
    void lineasMalas()
    {
        QFETCH(QString, texto);
        QFETCH(QString, mensajes);
        const auto l = programa::leer(texto);
        QVERIFY(!l.programa);
        QCOMPARE(l.errores, mensajes.split(u'\n'));
    }

    // Any program written reads back as the same program, from text and through a file.
    void idaYVuelta()
    {
        QRandomGenerator g(38);
        QTemporaryDir dir;
        std::map<QString, int> fallos;
        for (int i = 0; i < 400; ++i) {
            const Programa p = azar(g);
            const auto l = programa::leer(programa::escribir(p));
            if (!l.programa || !(*l.programa == p))
                ++fallos[p.limiteSuperior ? QStringLiteral("with limits") : QStringLiteral("no limits")];
        }
        const Programa p = azar(g);
        const QString ruta = dir.filePath(QStringLiteral("p.txt"));
        QString motivo;
        QVERIFY(programa::guardarArchivo(ruta, p, &motivo));
        QCOMPARE(*programa::leerArchivo(ruta).programa, p);
        for (const auto &[region, n] : fallos)
            qWarning("%s: %d programs did not read back", qPrintable(region), n);
        QVERIFY(fallos.empty());
    }

    // Against exact sums of whole thousandths: the mean and n - 1 deviation a spreadsheet gives.
    void estadistica()
    {
        QRandomGenerator g(3801);
        std::map<QString, int> fallos;
        for (int i = 0; i < 2000; ++i) {
            const int n = 1 + g.bounded(12);
            const qint64 base = g.bounded(3) == 0 ? 1000000000000LL : 0; // far from 0
            std::vector<double> v;
            __int128 s = 0, q = 0;
            qint64 menor = INT64_MAX, mayor = INT64_MIN;
            for (int k = 0; k < n; ++k) {
                const qint64 m = base + g.bounded(-200000, 200000);
                v.push_back(double(m) / 1000.0);
                s += m;
                q += __int128(m) * m;
                menor = std::min(menor, m);
                mayor = std::max(mayor, m);
            }
            const auto e = resultados::estadistica(v);
            const double media = double(s) / n / 1000.0;
            const QString region = QStringLiteral("n=%1%2").arg(n < 2 ? "1" : "2+",
                                                                 base ? " far from 0" : "");
            bool bien = e && e->n == n && std::abs(e->media - media) <= 1e-9 * std::max(1.0, std::abs(media))
                        && e->minimo == double(menor) / 1000 && e->maximo == double(mayor) / 1000;
            if (n > 1) {
                // (n·Σx² − (Σx)²) / (n(n−1)), exact in integers.
                const double var = double(__int128(n) * q - s * s) / (double(n) * (n - 1)) / 1e6;
                bien = bien && e->desviacion && std::abs(*e->desviacion - std::sqrt(var)) <= 1e-6;
            } else {
                bien = bien && !e->desviacion;
            }
            if (!bien)
                ++fallos[region];
        }
        QVERIFY(!resultados::estadistica({}));
        for (const auto &[region, n] : fallos)
            qWarning("%s: %d wrong", qPrintable(region), n);
        QVERIFY(fallos.empty());
    }

    // The table: a row per step, then per stage and figure n, mean, deviation, min, max.
    void texto()
    {
        QList<resultados::Escalon> e;
        for (int r = 1; r <= 3; ++r) {
            FigurasEscalon f;
            f.hay = true;
            f.desde = 30;
            f.hasta = 50;
            f.subida = 0.5 + r * 0.1;
            f.valorFinal = 46 + r;
            f.finalProvisional = r == 3; // not in the statistics
            e.append({r, 2, f, {}, {}});
        }
        const QStringList lineas = resultados::texto(e).split(u'\n');
        QCOMPARE(lineas[0].split(u'\t').mid(0, 6),
                 (QStringList{"Repetición", "Etapa", "Desde", "Set point", "Subida (s)", "Sobreimpulso (%)"}));
        QCOMPARE(lineas[3], QStringLiteral("3\t2\t30\t50\t0.800\t\t\t\t\t"));
        QCOMPARE(lineas[4], QString());
        QCOMPARE(lineas[6], QStringLiteral("2\tSubida (s)\t3\t0.7000\t0.1000\t0.6000\t0.8000"));
        QCOMPARE(lineas[7], QStringLiteral("2\tSobreimpulso (%)\t0\t\t\t\t"));
        QCOMPARE(lineas[10], QStringLiteral("2\tValor final\t2\t47.50\t0.71\t47.00\t48.00"));
    }
};

QTEST_GUILESS_MAIN(TstPrograma)
#include "tst_programa.moc"
