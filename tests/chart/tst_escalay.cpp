#include <QCheckBox>
#include <QLineEdit>
#include <QScreen>
#include <QWindow>
#include <QTest>

#include "chart/escalay.h"
#include "chart/graficotendencia.h"
#include "recepcion/adquisicion.h"
#include "relojprueba.h"
#include "ui/form1.h"

class TstEscalaY : public QObject
{
    Q_OBJECT

    // The chart as drawn, and where a row and a value fall on it.
    struct Lienzo
    {
        explicit Lienzo(GraficoTendencia &g) : g(g), img(g.grab().toImage()), area(g.axisRect()->rect()) {}
        int px(double fila) const { return qRound(g.xAxis->coordToPixel(fila)); }
        int py(double valor) const { return qRound(g.yAxis->coordToPixel(valor)); }
        QColor color(int x, int y) const { return QColor(img.pixel(x, y)); }
        GraficoTendencia &g;
        const QImage img;
        const QRect area;
    };

    static void escribir(QLineEdit *caja, const char *teclas)
    {
        caja->selectAll();
        QTest::keyClicks(caja, teclas);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // What reaches the screen has as many pixels as the screen: axes, grid and labels as
    // QCustomPlot draws them at that scale, also after the window goes to a screen of another
    // scale. CTest also runs this alone on three offscreen screens (pantallas.json: 1, 1.5, 2).
    void fondoALaEscalaDeLaPantalla()
    {
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QList<QScreen *> pantallas = QGuiApplication::screens();
        std::sort(pantallas.begin(), pantallas.end(), [](QScreen *a, QScreen *b) {
            return a->devicePixelRatio() < b->devicePixelRatio();
        });
        pantallas << pantallas.first(); // and back
        GraficoTendencia &g = *f.MSChart1;
        for (QScreen *pantalla : std::as_const(pantallas)) {
            f.windowHandle()->setScreen(pantalla);
            const double escala = pantalla->devicePixelRatio();
            QTRY_COMPARE(g.devicePixelRatioF(), escala);
            g.redibujar();
            const QImage visto = g.grab().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(visto.size(), g.size() * escala);
            QCOMPARE(g.bufferDevicePixelRatio(), escala);
            // The axes' lines where the layout puts them, the whole length of the plot, and the
            // label of 0 beside the bottom one: a picture copied from the wrong place or at the
            // wrong scale moves or loses them.
            const QRect r = g.axisRect()->rect();
            const auto oscuro = [&](double x, double y) {
                return qGray(visto.pixel(int(x * escala), int(y * escala))) < 50;
            };
            const auto linea = [&](bool horizontal, int donde) {
                for (int k = -2; k <= 2; ++k) {
                    int oscuros = 0;
                    for (int i = 5; i < 95; ++i)
                        oscuros += horizontal ? oscuro(r.left() + i * r.width() / 100.0, donde + k / escala)
                                              : oscuro(donde + k / escala, r.top() + i * r.height() / 100.0);
                    if (oscuros >= 88)
                        return true;
                }
                return false;
            };
            QVERIFY(linea(true, r.bottom()));
            QVERIFY(linea(false, r.left()));
            bool etiquetaCero = false;
            for (double y = r.bottom() - 6; y <= r.bottom() + 2; y += 0.5)
                for (double x = 0; x < r.left() - 4; x += 0.5)
                    etiquetaCero = etiquetaCero || oscuro(x, y);
            QVERIFY(etiquetaCero);
        }
    }

    void alEmpezar()
    {
        Form1 f;
        const ValueScale &e = f.MSChart1->valueScale();
        QVERIFY(!e.Auto);
        QCOMPARE(e.Minimum, 0.0);
        QCOMPARE(e.Maximum, 50.0);
        QCOMPARE(e.MajorDivision, int16_t(25));
        QCOMPARE(e.MinorDivision, int16_t(1));
        QVERIFY(f.txtEscala->isEnabled());
        QVERIFY(f.txtMajorDivision->isEnabled());
    }

    void marcarYDesmarcar()
    {
        Form1 f;
        f.chkAutoEscala->click();
        QVERIFY(f.MSChart1->valueScale().Auto);
        QVERIFY(!f.txtEscala->isEnabled());
        QVERIFY(!f.txtMajorDivision->isEnabled());
        QCOMPARE(f.MSChart1->valueScale().Maximum, 50.0);
        QCOMPARE(f.txtEscala->text(), QStringLiteral("50"));
        f.chkAutoEscala->click();
        QVERIFY(!f.MSChart1->valueScale().Auto);
        QVERIFY(f.txtEscala->isEnabled());
        QVERIFY(f.txtMajorDivision->isEnabled());
        QCOMPARE(f.MSChart1->valueScale().Maximum, 50.0);
        QCOMPARE(f.MSChart1->valueScale().MajorDivision, int16_t(25));
    }

    void desmarcarConMaximoNoValido_data()
    {
        QTest::addColumn<QString>("escala");
        QTest::newRow("0") << "0";
        QTest::newRow("-10") << "-10";
        QTest::newRow("letters") << "abc";
        QTest::newRow("empty") << "";
    }
    void desmarcarConMaximoNoValido()
    {
        QFETCH(QString, escala);
        Form1 f;
        escribir(f.txtEscala, "80");
        f.chkAutoEscala->click();
        // Texts can change only while the boxes are editable; set them behind the check box.
        f.txtEscala->setText(escala);
        f.txtMajorDivision->setText(QStringLiteral("8"));
        f.chkAutoEscala->click();
        QCOMPARE(f.MSChart1->valueScale().Maximum, 80.0);
        QCOMPARE(f.MSChart1->valueScale().MajorDivision, int16_t(8));
    }

    void teclaATecla_data()
    {
        QTest::addColumn<QString>("caja");
        QTest::addColumn<QString>("teclas");
        QTest::addColumn<QList<double>>("maximos");
        QTest::addColumn<QList<int>>("divisiones");
        QTest::newRow("75 over the maximum")
            << "txtEscala" << "75" << QList<double>{7, 75} << QList<int>{25, 25};
        QTest::newRow("0.5 as a maximum")
            << "txtEscala" << "0.5" << QList<double>{50, 50, 0.5} << QList<int>{25, 25, 25};
        QTest::newRow("letters in the maximum")
            << "txtEscala" << "x1" << QList<double>{50, 50} << QList<int>{25, 25};
        QTest::newRow("10 divisions")
            << "txtMajorDivision" << "10" << QList<double>{50, 50} << QList<int>{1, 10};
        QTest::newRow("2.5 divisions to even")
            << "txtMajorDivision" << "2.5" << QList<double>{50, 50, 50} << QList<int>{2, 2, 2};
        QTest::newRow("3.5 divisions to even")
            << "txtMajorDivision" << "3.5" << QList<double>{50, 50, 50} << QList<int>{3, 3, 4};
        QTest::newRow("0.4 divisions gives 0")
            << "txtMajorDivision" << "0.4" << QList<double>{50, 50, 50} << QList<int>{25, 25, 0};
        QTest::newRow("divisions beyond 16 bits ignored")
            << "txtMajorDivision" << "40000" << QList<double>{50, 50, 50, 50, 50}
            << QList<int>{4, 40, 400, 4000, 4000};
    }
    void teclaATecla()
    {
        QFETCH(QString, caja);
        QFETCH(QString, teclas);
        QFETCH(QList<double>, maximos);
        QFETCH(QList<int>, divisiones);
        Form1 f;
        auto *edit = f.findChild<QLineEdit *>(caja);
        QVERIFY(edit);
        edit->selectAll();
        for (int i = 0; i < teclas.size(); ++i) {
            QTest::keyClick(edit, teclas.at(i).toLatin1());
            QCOMPARE(f.MSChart1->valueScale().Maximum, maximos.at(i));
            QCOMPARE(int(f.MSChart1->valueScale().MajorDivision), divisiones.at(i));
        }
    }

    void borrarDesdeElFinalDejaSiete()
    {
        Form1 f;
        escribir(f.txtEscala, "75");
        QTest::keyClick(f.txtEscala, Qt::Key_End);
        QTest::keyClick(f.txtEscala, Qt::Key_Backspace);
        QCOMPARE(f.MSChart1->valueScale().Maximum, 7.0);
        QTest::keyClick(f.txtEscala, Qt::Key_Backspace);
        QCOMPARE(f.MSChart1->valueScale().Maximum, 7.0);
    }

    // The Y axis as drawn after each scale action: range and tick labels. Actions: "auto"
    // clicks «Auto escala»; "max T" and "div T" type T into a box (set directly while the box
    // is greyed out).
    void ejeDibujado_data()
    {
        QTest::addColumn<QStringList>("acciones");
        QTest::addColumn<int>("datos"); // samples 0..datos-1, stepping by one, then a plateau
        QTest::addColumn<QString>("eje");
        const QString de0a50 = "0..50: 0 2 4 6 8 10 12 14 16 18 20 22 24 26 28 30 32 34 36 38 40 "
                               "42 44 46 48 50";
        QTest::newRow("at start") << QStringList{} << 30 << de0a50;
        QTest::newRow("automatic, full scale")
            << QStringList{"auto"} << 255 << "0..275: 0 50 100 150 200 250";
        QTest::newRow("automatic, 0..23 takes 12 divisions")
            << QStringList{"auto"} << 24 << "0..24: 0 5 10 15 20";
        QTest::newRow("automatic, only zeros")
            << QStringList{"auto"} << 0 << "0..1: 0 0.2 0.4 0.6 0.8 1";
        QTest::newRow("divisions typed") << QStringList{"div 5"} << 255 << "0..50: 0 10 20 30 40 50";
        QTest::newRow("maximum typed keeps the divisions")
            << QStringList{"div 5", "max 10"} << 255 << "0..10: 0 2 4 6 8 10";
        QTest::newRow("automatic on and off again") << QStringList{"auto", "auto"} << 255 << de0a50;
        QTest::newRow("boxes applied when automatic goes off")
            << QStringList{"auto", "max 200", "div 8", "auto"} << 255
            << "0..200: 0 25 50 75 100 125 150 175 200";
        QTest::newRow("boxes changed while automatic leave it automatic")
            << QStringList{"auto", "max 200", "div 8"} << 24 << "0..24: 0 5 10 15 20";
    }
    void ejeDibujado()
    {
        QFETCH(QStringList, acciones);
        QFETCH(int, datos);
        QFETCH(QString, eje);
        Form1 f;
        QByteArray muestras;
        for (int i = 0; i < 512; ++i)
            muestras.append(char(std::min(i, std::max(datos - 1, 0))));
        if (datos > 0)
            f.adquisicion().procesarEntrada(evento::comEvReceive, muestras);
        for (const QString &accion : acciones) {
            if (accion == QLatin1String("auto")) {
                QTest::mouseClick(f.chkAutoEscala, Qt::LeftButton);
                continue;
            }
            QLineEdit *caja = accion.startsWith(QLatin1String("max")) ? f.txtEscala
                                                                       : f.txtMajorDivision;
            if (caja->isEnabled())
                escribir(caja, qPrintable(accion.mid(4)));
            else
                caja->setText(accion.mid(4));
        }
        f.MSChart1->redibujar();
        const QCPAxis *y = f.MSChart1->yAxis;
        const QString dibujado = QStringLiteral("%1..%2: %3")
                                     .arg(y->range().lower).arg(y->range().upper)
                                     .arg(y->tickVectorLabels().join(u' '));
        QCOMPARE(dibujado, eje);
    }

    void ticksManuales_data()
    {
        QTest::addColumn<double>("maximo");
        QTest::addColumn<int>("divisiones");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<double>("arriba");
        QTest::newRow("50 / 25") << 50.0 << 25 << 26 << 50.0;
        QTest::newRow("0.5 / 3") << 0.5 << 3 << 4 << 0.5;
        QTest::newRow("1 / 7 ends exactly at 1") << 1.0 << 7 << 8 << 1.0;
        QTest::newRow("no divisions") << 50.0 << 0 << 2 << 50.0;
        QTest::newRow("32767 divisions thinned") << 50.0 << 32767 << 201 << 50.0;
        QTest::newRow("maximum 0") << 0.0 << 5 << 6 << 1.0;
        QTest::newRow("negative maximum") << -10.0 << 5 << 6 << 0.0;
        QTest::newRow("tiny maximum") << 1e-300 << 5 << 6 << 1.0;
    }
    void ticksManuales()
    {
        QFETCH(double, maximo);
        QFETCH(int, divisiones);
        QFETCH(int, ticks);
        QFETCH(double, arriba);
        ValueScale e;
        e.Maximum = maximo;
        e.MajorDivision = int16_t(divisiones);
        const QVector<double> t = escalay::ticksManuales(e);
        QCOMPARE(t.size(), ticks);
        QCOMPARE(t.last(), arriba);
        QVERIFY(std::is_sorted(t.begin(), t.end()));
        QCOMPARE(escalay::rangoManual(e).superior, arriba);
    }

    void ticksDibujados_data()
    {
        QTest::addColumn<QString>("maximo");
        QTest::addColumn<QString>("divisiones");
        QTest::addColumn<int>("ticks");
        QTest::newRow("100 / 4") << "100" << "4" << 5;
        QTest::newRow("0.3 / 3") << "0.3" << "3" << 4;
        QTest::newRow("0.4 divisions") << "50" << "0.4" << 2;
        QTest::newRow("32767 divisions") << "50" << "32767" << 201;
        QTest::newRow("huge maximum") << "1e201" << "4" << 5;
        QTest::newRow("tiny maximum") << "1e-201" << "4" << 5;
    }
    void ticksDibujados()
    {
        QFETCH(QString, maximo);
        QFETCH(QString, divisiones);
        QFETCH(int, ticks);
        Form1 f;
        f.txtEscala->setText(maximo);
        f.txtMajorDivision->setText(divisiones);
        f.MSChart1->redibujar();
        QCOMPARE(f.MSChart1->yAxis->tickVector().size(), ticks);
        QCOMPARE(f.MSChart1->yAxis->range().upper, f.txtEscala->text().toDouble());
    }

    void rangoAutomatico_data()
    {
        QTest::addColumn<double>("minimo");
        QTest::addColumn<double>("maximo");
        QTest::addColumn<double>("abajo");
        QTest::addColumn<double>("arriba");
        QTest::newRow("all zero") << 0.0 << 0.0 << 0.0 << 1.0;
        QTest::newRow("0..254") << 0.0 << 254.0 << 0.0 << 275.0;
        QTest::newRow("3..37") << 3.0 << 37.0 << 0.0 << 40.0;
        QTest::newRow("a steady 19, far from zero") << 19.0 << 19.0 << 19.0 << 20.0;
        QTest::newRow("0..50") << 0.0 << 50.0 << 0.0 << 50.0;
        QTest::newRow("a sent set point of 32767") << 0.0 << 32767.0 << 0.0 << 35000.0;
    }
    void rangoAutomatico()
    {
        QFETCH(double, minimo);
        QFETCH(double, maximo);
        QFETCH(double, abajo);
        QFETCH(double, arriba);
        const escalay::Rango r = escalay::rangoAutomatico(minimo, maximo);
        QCOMPARE(r.inferior, abajo);
        QCOMPARE(r.superior, arriba);
    }

    void automaticaSigueLosDatos()
    {
        Form1 f;
        f.chkAutoEscala->click();
        f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray("\xff\x1e\x20", 3));
        f.MSChart1->redibujar();
        // Set point 30 and one sample 32: the rows of the fill hold no data.
        QCOMPARE(f.MSChart1->yAxis->range().lower, 30.0);
        QCOMPARE(f.MSChart1->yAxis->range().upper, 32.0);
        f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray("\xc8", 1));
        f.MSChart1->redibujar();
        QCOMPARE(f.MSChart1->yAxis->range().upper, 200.0);
    }

    // The chart as it reaches the screen: series drawn over the kept background, the newest
    // row on the plot's right edge, a step as a square corner, and the axis labels of the
    // scale in force, not of an earlier one; no set point before the controller reports one.
    void dibujoEnPantalla()
    {
        const QColor colorDato(0, 90, 200), colorSetPoint(220, 60, 0);
        QByteArray muestras(100, char(50)); // before any set point is reported
        muestras.append(QByteArray::fromHex("ff64")); // set point 100
        muestras.append(QByteArray(300, char(50)));
        muestras.append(QByteArray(112, char(145))); // rows 401 to 512: the step
        const QByteArray nuevoMaximo(1, char(245));
        Form1 f;
        f.resize(Form1::anchoCliente, Form1::altoCliente);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.chkAutoEscala->click();
        f.adquisicion().procesarEntrada(evento::comEvReceive, muestras);
        GraficoTendencia &g = *f.MSChart1;
        g.redibujar();
        const Lienzo c(g);

        // No set-point line where none was known yet.
        for (int x = c.px(2); x <= c.px(99); ++x)
            for (int y = c.area.top(); y <= c.area.bottom(); ++y)
                QVERIFY2(c.color(x, y) != colorSetPoint, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        // The set point, dashed: its colour along much of its row, with gaps.
        int enSetPoint = 0;
        for (int x = c.area.left(); x <= c.area.right(); ++x)
            enSetPoint += c.color(x, c.py(100)) == colorSetPoint;
        QVERIFY2(enSetPoint > c.area.width() / 3, qPrintable(QString::number(enSetPoint)));
        QVERIFY2(enSetPoint < c.area.width() * 9 / 10, qPrintable(QString::number(enSetPoint)));
        // The newest row's column, one past the plot's right().
        QCOMPARE(c.color(c.px(512), c.py(145)), colorDato);
        // The step rises between the columns of rows 400 and 401 (crossing the set point,
        // drawn over it), then stays level.
        for (int y = c.py(145); y <= c.py(50); ++y) {
            bool enPaso = false;
            for (int x = c.px(400); x <= c.px(401); ++x)
                enPaso = enPaso || c.color(x, y) == colorDato
                         || (y == c.py(100) && c.color(x, y) == colorSetPoint);
            QVERIFY2(enPaso, qPrintable(QStringLiteral("y %1").arg(y)));
        }
        QCOMPARE(c.color(c.px(456), c.py(145)), colorDato);

        // A new maximum rescales: the labels left of the plot are those of a chart drawn
        // fresh with the same rows.
        f.adquisicion().procesarEntrada(evento::comEvReceive, nuevoMaximo);
        g.redibujar();
        QCOMPARE(g.yAxis->range().upper, 250.0);
        Form1 nuevo;
        nuevo.chkAutoEscala->click();
        nuevo.adquisicion().procesarEntrada(evento::comEvReceive, muestras + nuevoMaximo);
        nuevo.MSChart1->redibujar(); // the scale in force before its first paint
        nuevo.resize(Form1::anchoCliente, Form1::altoCliente);
        nuevo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&nuevo));
        nuevo.MSChart1->redibujar();
        QCOMPARE(nuevo.MSChart1->axisRect()->rect(), g.axisRect()->rect());
        const QRect etiquetas(0, 0, c.area.left(), c.area.bottom() + 8);
        QCOMPARE(g.grab().toImage().copy(etiquetas),
                 nuevo.MSChart1->grab().toImage().copy(etiquetas));
    }

    // A long window is drawn from fewer points; what can be seen of it must survive.
    // Where the samples stopped (a pause, the port lost or changed), no line crosses the gap,
    // and a thin mark there says what it was and for how long.
    void corteEnPantalla()
    {
        const QColor colorDato(0, 90, 200), colorSetPoint(220, 60, 0), colorCorte(150, 150, 150);
        RelojPrueba reloj(QDateTime(QDate(2026, 12, 9), QTime(16, 0)));
        Form1 f;
        f.adquisicion().reloj().setFuente(&reloj);
        f.resize(Form1::anchoCliente, Form1::altoCliente);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        escribir(f.txtAncho, "101"); // wide rows, so the gap between two has pixels of its own
        f.chkAutoEscala->click();
        const auto recibir = [&](int valor, int veces) {
            for (int i = 0; i < veces; ++i) {
                reloj.avanzar(std::chrono::milliseconds(100));
                f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray(1, char(valor)));
            }
        };
        f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray::fromHex("ff64"));
        recibir(50, 40);
        reloj.avanzar(std::chrono::seconds(15)); // unplugged
        recibir(145, 40); // rows 62 to 101
        f.adquisicion().puertoAbierto(QStringLiteral("se cambió del puerto serial A al B"));
        recibir(120, 1); // row 101, after a second break
        GraficoTendencia &g = *f.MSChart1;
        g.redibujar();
        const Lienzo c(g);
        // The break sits between rows 60 and 61 (row 1 went with the window's slide).
        for (int x = c.px(60) + 1; x < c.px(61); ++x) {
            for (int y = c.area.top(); y <= c.area.bottom(); ++y) {
                QVERIFY2(c.color(x, y) != colorDato && c.color(x, y) != colorSetPoint,
                         qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            }
        }
        int enMarca = 0;
        for (int y = c.area.top(); y <= c.area.bottom(); ++y)
            enMarca += c.color(c.px(60.5), y) == colorCorte;
        QVERIFY2(enMarca > c.area.height() / 4, qPrintable(QString::number(enMarca)));
        // Away from the breaks the lines are whole.
        QCOMPARE(c.color(c.px(59.5), c.py(50)), colorDato);
        QCOMPARE(c.color(c.px(80.5), c.py(145)), colorDato);
        QCOMPARE(g.textoCorte(c.px(60.5)),
                 QStringLiteral("Corte: 15.1 s sin muestras; el controlador no envió nada"));
        QCOMPARE(g.textoCorte(c.px(100.5)),
                 QStringLiteral("Corte: 0.1 s sin muestras; se cambió del puerto serial A al B"));
        QCOMPARE(g.textoCorte(c.px(80.5)), QString());
    }

    void ventanaLargaConservaExtremos()
    {
        Form1 f;
        f.resize(Form1::anchoCliente, Form1::altoCliente);
        f.show();
        f.txtAncho->setText(QStringLiteral("32766"));
        f.chkAutoEscala->click();
        QByteArray chunk(32766, char(40));
        chunk[20000] = char(250); // one spike
        chunk[30000] = char(3);   // one dip
        f.adquisicion().procesarEntrada(evento::comEvReceive, chunk);
        f.MSChart1->redibujar();
        f.MSChart1->redibujar(); // the first frame lays the chart out
        const auto datos = f.MSChart1->graph(0)->data();
        QVERIFY(datos->size() < 4000);
        double minimo = 1e9, maximo = -1e9, filaMax = 0;
        for (const QCPGraphData &p : *datos) {
            minimo = std::min(minimo, p.value);
            if (p.value > maximo) {
                maximo = p.value;
                filaMax = p.key;
            }
        }
        QCOMPARE(maximo, 250.0);
        QCOMPARE(minimo, 3.0);
        QCOMPARE(filaMax, 20001.0); // at its own row
        QVERIFY(std::is_sorted(datos->begin(), datos->end(), [](const auto &a, const auto &b) {
            return a.key < b.key;
        }));
        QCOMPARE(f.MSChart1->yAxis->range().upper, 250.0);
    }

    void redibujoAgrupado()
    {
        Form1 f;
        f.show();
        QTRY_VERIFY(!f.MSChart1->redibujoPendiente());
        const uint64_t antes = f.MSChart1->redibujos();
        for (int i = 0; i < 100; ++i)
            f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray(1, char(i)));
        QVERIFY(f.MSChart1->redibujoPendiente());
        QCOMPARE(f.MSChart1->redibujos(), antes);
        QTRY_COMPARE(f.MSChart1->redibujos(), antes + 1);
        QCOMPARE(f.MSChart1->graph(0)->data()->size(), 512);
        QCOMPARE(f.MSChart1->graph(0)->data()->at(511)->value, 99.0);
        QCOMPARE(f.MSChart1->graph(0)->data()->at(511)->key, 512.0);
    }

    // Nobody sees a minimised window: no frames then, and the picture and the read-outs are
    // up to date the moment it is shown again.
    void minimizadaSinFotogramas()
    {
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.showMinimized();
        QTRY_VERIFY(f.isMinimized());
        QTest::qWait(100);
        const uint64_t antes = f.MSChart1->redibujos();
        for (int i = 0; i < 5; ++i) {
            f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray(1, char(40 + i)));
            QTest::qWait(2 * GraficoTendencia::intervaloRedibujoMs);
        }
        QTest::qWait(Adquisicion::intervaloLecturasMs + 3 * GraficoTendencia::intervaloRedibujoMs);
        QCOMPARE(f.MSChart1->redibujos(), antes);
        QVERIFY(f.txtDato->text().isEmpty());
        f.showNormal();
        QTRY_COMPARE_WITH_TIMEOUT(f.MSChart1->redibujos(), antes + 1, 1000);
        QCOMPARE(f.MSChart1->graph(0)->data()->at(511)->value, 44.0);
        QCOMPARE(f.txtDato->text(), QStringLiteral("44"));
    }
};

QTEST_MAIN(TstEscalaY)
#include "tst_escalay.moc"
