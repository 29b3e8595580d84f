#include <cmath>

#include <QTest>

#include "core/numeros.h"

class TstNumeros : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void leerEntero_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("texto");
        QTest::addColumn<int>("esperado"); // INT32_MIN: cannot be read
        const int nada = INT32_MIN;
        QTest::newRow("plain") << "C" << "137" << 137;
        QTest::newRow("2.5 to even") << "C" << "2.5" << 2;
        QTest::newRow("3.5 to even") << "C" << "3.5" << 4;
        QTest::newRow("-2.5 to even") << "C" << "-2.5" << -2;
        QTest::newRow("100.4") << "C" << "100.4" << 100;
        QTest::newRow("100.5") << "C" << "100.5" << 100;
        QTest::newRow("100.6") << "C" << "100.6" << 101;
        QTest::newRow("0.4") << "C" << "0.4" << 0;
        QTest::newRow("32767") << "C" << "32767" << 32767;
        QTest::newRow("32767.5 rounds out of range") << "C" << "32767.5" << nada;
        QTest::newRow("32768") << "C" << "32768" << nada;
        QTest::newRow("-32768") << "C" << "-32768" << -32768;
        QTest::newRow("-32769") << "C" << "-32769" << nada;
        QTest::newRow("spaces") << "C" << "  42 " << 42;
        QTest::newRow("exponent") << "C" << "1e3" << 1000;
        QTest::newRow("empty") << "C" << "" << nada;
        QTest::newRow("letters") << "C" << "abc" << nada;
        QTest::newRow("sign alone") << "C" << "-" << nada;
        QTest::newRow("point alone") << "C" << "." << nada;
        QTest::newRow("inf") << "C" << "inf" << nada;
        QTest::newRow("nan") << "C" << "nan" << nada;
        QTest::newRow("huge") << "C" << "1e400" << nada;
        QTest::newRow("comma locale 2,5") << "es_ES" << "2,5" << 2;
        QTest::newRow("comma locale 3,5") << "es_ES" << "3,5" << 4;
        QTest::newRow("comma locale refuses 1.000") << "es_ES" << "1.000" << nada;
        QTest::newRow("point locale refuses 2,5") << "en_US" << "2,5" << nada;
        // Group separators would turn a decimal typed the other way into thousands.
        QTest::newRow("es_ES refuses 10.000") << "es_ES" << "10.000" << nada;
        QTest::newRow("de_DE refuses 1.000") << "de_DE" << "1.000" << nada;
        QTest::newRow("de_DE 3,5 to even") << "de_DE" << "3,5" << 4;
        QTest::newRow("en_US refuses 1,000") << "en_US" << "1,000" << nada;
    }
    void leerEntero()
    {
        QFETCH(QString, locale);
        QFETCH(QString, texto);
        QFETCH(int, esperado);
        QLocale::setDefault(QLocale(locale));
        const auto valor = numeros::leerEntero(texto);
        if (esperado == INT32_MIN)
            QVERIFY2(!valor, qPrintable(QString::number(valor.value_or(0))));
        else
            QCOMPARE(valor.value_or(-1), esperado);
    }

    void textoReal_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<float>("valor");
        QTest::addColumn<QString>("texto");
        QTest::newRow("0.25") << "C" << 0.25f << "0.25";
        QTest::newRow("2") << "C" << 2.0f << "2";
        QTest::newRow("0") << "C" << 0.0f << "0";
        QTest::newRow("0.00390625") << "C" << 0.00390625f << "0.00390625";
        QTest::newRow("1.005 keeps its zeros") << "C" << 1.005f << "1.005";
        QTest::newRow("seven digits") << "C" << 12345.67f << "12345.67";
        QTest::newRow("after 18:12:16") << "C" << 65536.0078125f << "65536.01";
        QTest::newRow("whole seconds of a day") << "C" << 86399.0f << "86399";
        QTest::newRow("tiny, no exponent") << "C" << 1.0e-7f << "0.0000001";
        QTest::newRow("large, no exponent") << "C" << 12345678.0f << "12345680";
        QTest::newRow("negative") << "C" << -0.5f << "-0.5";
        QTest::newRow("decimal comma") << "es_ES" << 0.25f << "0,25";
        QTest::newRow("no group separator") << "es_ES" << 43210.5f << "43210,5";
    }
    void textoReal()
    {
        QFETCH(QString, locale);
        QFETCH(float, valor);
        QFETCH(QString, texto);
        QLocale::setDefault(QLocale(locale));
        QCOMPARE(numeros::textoReal(valor), texto);
    }

    void escribirEntero_data()
    {
        QTest::addColumn<int>("valor");
        QTest::addColumn<QString>("texto");
        for (int v : {0, 7, 10, 254, 255, 300, 32766, 32767, -1, -32768})
            QTest::addRow("%d", v) << v << QString::number(v);
    }
    void escribirEntero()
    {
        QFETCH(int, valor);
        QFETCH(QString, texto);
        QCOMPARE(numeros::textoEntero(int16_t(valor)), texto);
    }
};

QTEST_GUILESS_MAIN(TstNumeros)
#include "tst_numeros.moc"
