#include <QLineEdit>
#include <QTest>
#include <QToolTip>

#include "chart/graficotendencia.h"
#include "chart/ventanamuestras.h"
#include "core/variablesventana.h"
#include "recepcion/adquisicion.h"
#include "ui/form1.h"

namespace {

// Rows of a fill: no sample, no set point.
bool todoVacias(const VentanaMuestras &v)
{
    for (int r = 1; r <= v.RowCount(); ++r)
        if (v.fila(r).conDato() || v.fila(r).conSetPoint())
            return false;
    return true;
}

// Append then cut, as the pipeline does for every sample.
void muestra(VentanaMuestras &v, const VariablesVentana &variables, int dato, int setPoint)
{
    QVERIFY(v.agregarMuestra(int16_t(dato), int16_t(setPoint)));
    QCOMPARE(v.RowCount(), variables.puntosX + 1);
    v.recortarVentana(variables.puntosX);
}

} // namespace

class TstVentanaMuestras : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void trasLaCarga()
    {
        Form1 f;
        QCOMPARE(f.variables.puntosX, int16_t(512));
        QCOMPARE(f.ventana.RowCount(), 512);
        QVERIFY(todoVacias(f.ventana));
    }

    void deslizamiento_data()
    {
        QTest::addColumn<int>("puntos");
        QTest::addColumn<int>("k");
        QTest::newRow("first sample") << 512 << 1;
        QTest::newRow("k below puntosX") << 512 << 300;
        QTest::newRow("exactly full") << 512 << 512;
        QTest::newRow("full then one more") << 512 << 513;
        QTest::newRow("many windows over") << 101 << 5000;
        // The store is a ring of 32768 places: cross its wrap point more than once.
        QTest::newRow("largest window, past the wrap") << 32766 << 70000;
    }
    void deslizamiento()
    {
        QFETCH(int, puntos);
        QFETCH(int, k);
        VariablesVentana variables;
        variables.puntosX = int16_t(puntos);
        VentanaMuestras v;
        llenarVentana(variables, v);
        for (int i = 0; i < k; ++i)
            muestra(v, variables, i % 255, i % 7);
        QCOMPARE(v.RowCount(), puntos);
        const int vacias = std::max(0, puntos - k);
        for (int r = 1; r <= puntos; ++r) {
            const auto fila = v.fila(r);
            if (r <= vacias) {
                QCOMPARE(fila.dato, VentanaMuestras::sinDato);
                QCOMPARE(fila.setPoint, VentanaMuestras::sinSetPoint);
            } else {
                const int i = k - (puntos - r) - 1; // which sample sits in row r
                QCOMPARE(fila.dato, i % 255);
                QCOMPARE(fila.setPoint, i % 7);
            }
        }
    }

    void setPointCambiaEntreMuestras()
    {
        VariablesVentana variables;
        variables.puntosX = 512;
        VentanaMuestras v;
        llenarVentana(variables, v);
        muestra(v, variables, 37, 0);
        muestra(v, variables, 38, 300); // a set point of 300, as typed and sent
        QCOMPARE(v.fila(511).setPoint, 0);
        QCOMPARE(v.fila(512).setPoint, 300);
        QCOMPARE(v.fila(511).dato, 37);
    }

    void limiteDeFilas()
    {
        VariablesVentana variables;
        variables.puntosX = 32766;
        VentanaMuestras v;
        llenarVentana(variables, v);
        QVERIFY(v.agregarMuestra(1, 1));
        QCOMPARE(v.RowCount(), 32767);
        QVERIFY(!v.agregarMuestra(2, 2)); // the 16-bit row count cannot go further
        QCOMPARE(v.RowCount(), 32767);
    }

    // Typing into the real box, one key at a time: puntosX after each key, and whether that
    // key rebuilt the window (a rebuild is marked by a negative length).
    void txtAncho_data()
    {
        QTest::addColumn<QString>("teclas");
        QTest::addColumn<QList<int>>("puntos");
        QTest::newRow("2000") << "2000" << QList<int>{512, 512, -200, -2000};
        QTest::newRow("100 is not above 100") << "100" << QList<int>{512, 512, 512};
        QTest::newRow("100.4") << "100.4" << QList<int>{512, 512, 512, 512, -100};
        QTest::newRow("100.5") << "100.5" << QList<int>{512, 512, 512, 512, -100};
        QTest::newRow("100.6") << "100.6" << QList<int>{512, 512, 512, 512, -101};
        QTest::newRow("101") << "101" << QList<int>{512, 512, -101};
        QTest::newRow("512 over 512") << "512" << QList<int>{512, 512, -512};
        QTest::newRow("abc") << "abc" << QList<int>{512, 512, 512};
        QTest::newRow("40000") << "40000" << QList<int>{512, 512, -400, -4000, 4000};
        QTest::newRow("32766 fits") << "32766" << QList<int>{512, 512, -327, -3276, -32766};
        QTest::newRow("32767 leaves no room") << "32767" << QList<int>{512, 512, -327, -3276, 3276};
    }
    void txtAncho()
    {
        QFETCH(QString, teclas);
        QFETCH(QList<int>, puntos);
        Form1 f;
        f.txtAncho->selectAll();
        for (int i = 0; i < teclas.size(); ++i) {
            // A sample on show before each key tells whether the key rebuilt the window.
            f.ventana.agregarMuestra(9, 9);
            f.ventana.recortarVentana(f.variables.puntosX);
            QTest::keyClick(f.txtAncho, teclas.at(i).toLatin1());
            const int esperado = std::abs(puntos.at(i));
            QCOMPARE(int(f.variables.puntosX), esperado);
            QCOMPARE(int(f.ventana.RowCount()), esperado);
            QCOMPARE(todoVacias(f.ventana), puntos.at(i) < 0);
        }
    }

    // The chart shows rows 1 to N, oldest at the left; pointing at the first and the last
    // row tells their values.
    void ejeXYFilasSenaladas_data()
    {
        QTest::addColumn<QString>("ancho");
        QTest::newRow("101") << "101";
        QTest::newRow("512") << "512";
        QTest::newRow("32766") << "32766";
    }
    void ejeXYFilasSenaladas()
    {
        QFETCH(QString, ancho);
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.txtAncho->setText(ancho);
        const int n = f.variables.puntosX;
        QByteArray entrada = QByteArray::fromHex("ff1e07"); // first row: 7 with set point 30
        entrada.append(QByteArray(n - 2, char(100)));
        entrada.append(QByteArray::fromHex("ff2809")); // last row: 9 with set point 40
        f.adquisicion().procesarEntrada(evento::comEvReceive, entrada);
        f.MSChart1->redibujar();
        QCOMPARE(f.MSChart1->xAxis->range().lower, 1.0);
        QCOMPARE(f.MSChart1->xAxis->range().upper, double(n));
        const QRect area = f.MSChart1->axisRect()->rect();
        for (const auto &[fila, texto] : {std::pair{1, "Fila 1\nValor: 7\nSet Point: 30"},
                                          std::pair{n, "Fila %1\nValor: 9\nSet Point: 40"}}) {
            const QPoint punto(qRound(f.MSChart1->xAxis->coordToPixel(fila)), area.center().y());
            QToolTip::hideText();
            QTest::mouseMove(f.MSChart1, punto);
            QTRY_COMPARE(QToolTip::text(), QString::fromLatin1(texto).arg(n));
        }
    }

    void txtAnchoVacioNoCambiaNada()
    {
        Form1 f;
        f.ventana.agregarMuestra(9, 9);
        f.ventana.recortarVentana(f.variables.puntosX);
        f.txtAncho->clear();
        QCOMPARE(f.variables.puntosX, int16_t(512));
        QCOMPARE(f.ventana.fila(512).dato, 9);
    }
};

QTEST_MAIN(TstVentanaMuestras)
#include "tst_ventanamuestras.moc"
