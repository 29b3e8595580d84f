#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTime>

#include "chart/graficotendencia.h"
#include "core/adquisicion.h"
#include "ui/form1.h"

using Filas = QList<QPair<int, int>>;
Q_DECLARE_METATYPE(Filas)

namespace {

Filas ultimas(const VentanaMuestras &v, int n)
{
    Filas filas;
    for (int r = v.RowCount() - n + 1; r <= v.RowCount(); ++r)
        filas.append({v.fila(r).dato, v.fila(r).setPoint});
    return filas;
}

QByteArray bytes(std::initializer_list<int> valores)
{
    QByteArray b;
    for (int v : valores)
        b.append(char(v));
    return b;
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

        QTest::newRow("10,255,40,12 in one chunk")
            << QList<QByteArray>{bytes({10, 255, 40, 12})} << Filas{{10, 0}, {12, 40}} << 40
            << false << "12";
        QTest::newRow("20,255 then 255,30")
            << QList<QByteArray>{bytes({20, 255}), bytes({255, 30})}
            << Filas{{20, 0}, {30, 255}} << 255 << false << "30";
        QTest::newRow("marker as the last byte waits for the next event")
            << QList<QByteArray>{bytes({7, 255})} << Filas{{0, 0}, {7, 0}} << 0 << true << "7";
        QTest::newRow("255,255 then a sample")
            << QList<QByteArray>{bytes({255, 255, 9})} << Filas{{0, 0}, {9, 255}} << 255 << false
            << "9";
        QTest::newRow("marker then 0 is a set point of 0")
            << QList<QByteArray>{bytes({255, 77, 5, 255, 0, 6})}
            << Filas{{5, 77}, {6, 0}} << 0 << false << "6";
        QTest::newRow("byte 0 is a sample")
            << QList<QByteArray>{bytes({0, 0, 3})} << Filas{{0, 0}, {0, 0}, {3, 0}} << 0 << false
            << "3";
        QTest::newRow("254 is a sample")
            << QList<QByteArray>{bytes({254})} << Filas{{0, 0}, {254, 0}} << 0 << false << "254";
        QTest::newRow("set point kept across events")
            << QList<QByteArray>{bytes({255, 50}), bytes({1}), bytes({2})}
            << Filas{{1, 50}, {2, 50}} << 50 << false << "2";
    }
    void secuencias()
    {
        QFETCH(QList<QByteArray>, eventos);
        QFETCH(Filas, filas);
        QFETCH(int, setPoint);
        QFETCH(bool, espera);
        QFETCH(QString, dato);
        Form1 f;
        for (const QByteArray &e : eventos)
            f.adquisicion().procesarEntrada(evento::comEvReceive, e);
        QCOMPARE(ultimas(f.ventana, filas.size()), filas);
        QCOMPARE(f.ventana.RowCount(), 512);
        QCOMPARE(f.variables.setPoint, int16_t(setPoint));
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
        const float anterior = f.variables.tiempoAnterior;
        const QString tiempo = f.txtTiempo->text();
        const uint64_t cambios = f.ventana.cambios();
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({255, 30, 255, 31, 255, 32}));
        QVERIFY(!f.MSChart1->redibujoPendiente());
        f.MSChart1->redibujar();
        QCOMPARE(f.variables.setPoint, int16_t(32));
        QCOMPARE(f.variables.tiempoAnterior, anterior);
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
        QCOMPARE(f.variables.setPoint, int16_t(0));
        QCOMPARE(f.variables.tiempoAnterior, 0.0f);
        QVERIFY(f.txtDato->text().isEmpty());
        QVERIFY(f.txtTiempo->text().isEmpty());
    }

    void primerMuestraMuestraSegundosDesdeMedianoche()
    {
        Form1 f;
        const double antes = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({5}));
        f.MSChart1->redibujar();
        const double despues = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
        const double mostrado = f.txtTiempo->text().toDouble();
        if (despues < antes)
            QSKIP("midnight passed during the test");
        QVERIFY2(mostrado >= antes - 0.01 && mostrado <= despues + 0.01,
                 qPrintable(f.txtTiempo->text()));
        QCOMPARE(f.variables.tiempoAnterior, f.txtTiempo->text().toFloat());
        // The next sample shows only the time since this one.
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({6}));
        f.MSChart1->redibujar();
        QVERIFY(f.txtTiempo->text().toDouble() < 1.0);
    }

    void setPointEnviadoLlegaALaSiguienteMuestra()
    {
        Form1 f;
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({1}));
        f.variables.setPoint = 150; // as a send leaves it
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({2}));
        QCOMPARE(ultimas(f.ventana, 2), (Filas{{1, 0}, {2, 150}}));
    }
};

QTEST_MAIN(TstAdquisicion)
#include "tst_adquisicion.moc"
