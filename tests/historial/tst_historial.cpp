// Reading a log back: each line, any stretch drawn a column at a time, a file that grows,
// shrinks or is replaced, and the window on a real log written by the pipeline.

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include "hasta.h"
#include "historial/cargadorhistorial.h"
#include "historial/datoshistorial.h"
#include "historial/graficohistorial.h"
#include "historial/lectorlineas.h"
#include "historial/ventanahistorial.h"
#include "recepcion/adquisicion.h"
#include "relojprueba.h"
#include "ui/form1.h"
#include "respuesta/ventanarespuesta.h"

namespace {

qint64 msLocal(int a, int mes, int d, int h, int m, int s, int ms)
{
    return QDateTime(QDate(a, mes, d), QTime(h, m, s, ms)).toMSecsSinceEpoch();
}

void escribir(const QString &ruta, const QByteArray &b, QIODevice::OpenMode modo)
{
    QFile f(ruta);
    QVERIFY(f.open(modo));
    QCOMPARE(f.write(b), b.size());
}

} // namespace

class TstHistorial : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    // The lines this panel writes in each language, with and without milliseconds; and
    // every kind of line that is not one (-1: not read).
    void lector_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("linea");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("setPoint"); // 255: empty field
        QTest::addColumn<int>("valor");
        QTest::addColumn<bool>("conMs");
        const qint64 t = msLocal(2026, 12, 8, 14, 12, 20, 0);
        QTest::newRow("es_ES") << "es_ES" << QByteArray("8/12/2026 14:12:20\t50\t37\r\n") << t << 50 << 37 << false;
        QTest::newRow("es_ES ms") << "es_ES" << QByteArray("8/12/2026 14:12:20,250\t50\t37\r\n") << t + 250 << 50 << 37 << true;
        QTest::newRow("en_US PM ms") << "en_US" << QByteArray("12/8/2026 2:12:20.005 PM\t0\t254\r\n") << t + 5 << 0 << 254 << true;
        QTest::newRow("en_US 12 AM") << "en_US" << QByteArray("12/8/2026 12:00:00 AM\t\t0\r\n") << msLocal(2026, 12, 8, 0, 0, 0, 0) << 255 << 0 << false;
        QTest::newRow("de_DE ms") << "de_DE" << QByteArray("08.12.2026 14:12:20,999\t254\t1\r\n") << t + 999 << 254 << 1 << true;
        QTest::newRow("C ms") << "C" << QByteArray("8 Dec 2026 14:12:20.100\t7\t8\r\n") << t + 100 << 7 << 8 << true;
        QTest::newRow("bare LF") << "es_ES" << QByteArray("8/12/2026 14:12:20\t50\t37\n") << t << 50 << 37 << false;
        QTest::newRow("empty set point") << "es_ES" << QByteArray("8/12/2026 14:12:20\t\t37\r\n") << t << 255 << 37 << false;
        const auto mala = [](const char *nombre, const char *locale, const char *linea) {
            QTest::newRow(nombre) << locale << QByteArray(linea) << qint64(-1) << 0 << 0 << false;
        };
        mala("two fields", "es_ES", "8/12/2026 14:12:20\t37\r\n");
        mala("four fields", "es_ES", "8/12/2026 14:12:20\t50\t37\t1\r\n");
        mala("value 255", "es_ES", "8/12/2026 14:12:20\t50\t255\r\n");
        mala("set point 300", "es_ES", "8/12/2026 14:12:20\t300\t37\r\n");
        mala("negative value", "es_ES", "8/12/2026 14:12:20\t50\t-1\r\n");
        mala("empty value", "es_ES", "8/12/2026 14:12:20\t50\t\r\n");
        mala("31 February", "es_ES", "31/2/2026 14:12:20\t50\t37\r\n");
        mala("hour 25", "es_ES", "8/12/2026 25:12:20\t50\t37\r\n");
        mala("minute 60", "es_ES", "8/12/2026 14:60:20\t50\t37\r\n");
        mala("13 PM", "en_US", "12/8/2026 13:12:20 PM\t50\t37\r\n");
        mala("two-digit ms", "es_ES", "8/12/2026 14:12:20,25\t50\t37\r\n");
        mala("other language's separator", "es_ES", "8/12/2026 14:12:20.250\t50\t37\r\n");
        mala("not a date", "es_ES", "Fecha\tSet point\tValor\r\n");
        mala("torn", "es_ES", "8/12/2026 14:1");
        mala("text after the value", "es_ES", "8/12/2026 14:12:20\t50\t37x\r\n");
        mala("binary", "es_ES", "\x7f" "ELF\x02\x01\x01\t\t\t\r\n");
    }
    void lector()
    {
        QFETCH(QString, locale);
        QFETCH(QByteArray, linea);
        QFETCH(qint64, ms);
        QFETCH(int, setPoint);
        QFETCH(int, valor);
        QFETCH(bool, conMs);
        if (linea.endsWith('\n'))
            linea.chop(1);
        const auto m = LectorLineas(QLocale(locale)).leer(linea.constData(), size_t(linea.size()));
        QCOMPARE(m.has_value(), ms >= 0);
        if (!m)
            return;
        QCOMPARE(m->ms, ms);
        QCOMPARE(int(m->setPoint), setPoint);
        QCOMPARE(int(m->valor), valor);
        QCOMPARE(m->conMs, conMs);
    }

    // Every column holds exactly the least and greatest of the samples in its time (found
    // here sample by sample), so one sample that stands out shows at every zoom.
    void columnas_data()
    {
        QTest::addColumn<double>("desde"); // s from the first sample
        QTest::addColumn<double>("hasta");
        QTest::addColumn<int>("columnas");
        // Column edges between whole milliseconds, where no rounding can move a sample.
        QTest::newRow("whole, 1000 columns") << -1.00025 << 101.0 << 1000;
        QTest::newRow("whole, 7 columns") << -1.00025 << 101.0 << 7;
        QTest::newRow("whole, 1 column") << -0.00025 << 100.00025 << 1;
        QTest::newRow("a tenth") << 45.00025 << 55.00025 << 613;
        QTest::newRow("one second on the spike") << 49.50025 << 50.50025 << 800;
        QTest::newRow("columns finer than samples") << 49.99025 << 50.01025 << 997;
        QTest::newRow("past the end") << 99.00025 << 200.0 << 300;
    }
    void columnas()
    {
        QFETCH(double, desde);
        QFETCH(double, hasta);
        QFETCH(int, columnas);
        // 100,003 samples 1 ms apart (a partial last block at every level), value 10 with a
        // one-sample spike and a one-sample dip, the set point unknown for the first ones.
        DatosHistorial datos;
        const int64_t t0 = 1765200000000;
        const int n = 100003, pico = 50000, valle = 77777;
        for (int i = 0; i < n; ++i)
            datos.agregar({t0 + i, uint8_t(i == pico ? 200 : i == valle ? 0 : 10),
                           uint8_t(i < 333 ? LectorLineas::sinSetPoint : i < 60000 ? 20 : 30), true});
        const double base = t0 / 1000.0;
        const auto cols = datos.columnas(base + desde, base + hasta, columnas);
        QCOMPARE(int(cols.size()), columnas);
        int picos = 0;
        const double paso = (hasta - desde) / columnas;
        for (int c = 0; c < columnas; ++c) {
            DatosHistorial::Rango v, s;
            const double a = (base + desde + paso * c) * 1000, b = (base + desde + paso * (c + 1)) * 1000;
            for (int i = 0; i < n; ++i) {
                if (double(t0 + i) < a || double(t0 + i) >= b)
                    continue;
                const int valor = i == pico ? 200 : i == valle ? 0 : 10;
                v.minimo = uint8_t(std::min<int>(v.minimo, valor));
                v.maximo = uint8_t(std::max<int>(v.maximo, valor));
                if (i >= 333) {
                    const int sp = i < 60000 ? 20 : 30;
                    s.minimo = uint8_t(std::min<int>(s.minimo, sp));
                    s.maximo = uint8_t(std::max<int>(s.maximo, sp));
                }
            }
            QCOMPARE(cols[c].valor.minimo, v.minimo);
            QCOMPARE(cols[c].valor.maximo, v.maximo);
            QCOMPARE(cols[c].setPoint.minimo, s.minimo);
            QCOMPARE(cols[c].setPoint.maximo, s.maximo);
            picos += cols[c].valor.maximo == 200;
        }
        QCOMPARE(picos, base + desde <= (t0 + pico) / 1000.0 && (t0 + pico) / 1000.0 < base + hasta ? 1 : 0);
    }

    // The reader follows a file the panel is writing: lines added whole or in pieces, a line
    // left cut short, a file that shrinks, is replaced, or gets binary bytes.
    void seguir_data()
    {
        QTest::addColumn<QByteArrayList>("escrituras"); // after the first reading, one a look
        QTest::addColumn<int>("muestras");              // on show after the last look
        QTest::addColumn<int>("malas");
        QTest::addColumn<int>("reinicios");
        const QByteArray l1 = "8/12/2026 14:12:20,000\t50\t1\r\n", l2 = "8/12/2026 14:12:20,005\t50\t2\r\n";
        QTest::newRow("grows by whole lines") << QByteArrayList{l1, l2 + l1} << 5 << 0 << 0;
        QTest::newRow("a line in two pieces") << QByteArrayList{l2.left(10), l2.mid(10)} << 3 << 0 << 0;
        QTest::newRow("a line left cut short") << QByteArrayList{l2.left(10), "", l1} << 3 << 1 << 0;
        QTest::newRow("shrinks") << QByteArrayList{"=" + l1} << 1 << 0 << 1;
        QTest::newRow("replaced") << QByteArrayList{"!" + l1 + l1 + l2} << 3 << 0 << 1;
        QTest::newRow("binary added") << QByteArrayList{QByteArray(2000, '\xff'), "\n" + l1} << 3 << 1 << 0;
        QTest::newRow("empty, then written") << QByteArrayList{"!", "+" + l1} << 1 << 0 << 1;
    }
    void seguir()
    {
        QFETCH(QByteArrayList, escrituras);
        QFETCH(int, muestras);
        QFETCH(int, malas);
        QFETCH(int, reinicios);
        QLocale::setDefault(QLocale(QStringLiteral("es_ES")));
        const QString ruta = dir_.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const QByteArray inicio = "8/12/2026 14:12:19,990\t50\t9\r\n8/12/2026 14:12:19,995\t50\t8\r\n";
        const bool vacio = escrituras.first() == "!";
        escribir(ruta, vacio ? QByteArray() : inicio, QIODevice::WriteOnly);
        CargadorHistorial cargador(ruta);
        int vistas = 0, malasVistas = 0, reiniciado = 0;
        connect(&cargador, &CargadorHistorial::lote, this,
                [&](const std::shared_ptr<const CargadorHistorial::Lote> &l) {
                    vistas += int(l->muestras.size());
                    malasVistas += int(l->lineasMalas);
                });
        connect(&cargador, &CargadorHistorial::reiniciado, this, [&] {
            ++reiniciado;
            vistas = malasVistas = 0;
        });
        cargador.empezar();
        QCOMPARE(vistas, vacio ? 0 : 2);
        for (QByteArray e : escrituras) {
            // "=" cuts the file to what follows; "!" writes a new file in its place; "+" adds.
            if (e.startsWith('=')) {
                escribir(ruta, e.mid(1), QIODevice::WriteOnly | QIODevice::Truncate);
            } else if (e.startsWith('!')) {
                escribir(ruta + ".nuevo", e.mid(1), QIODevice::WriteOnly);
                QFile::remove(ruta);
                QVERIFY(QFile::rename(ruta + ".nuevo", ruta));
            } else {
                escribir(ruta, e.startsWith('+') ? e.mid(1) : e, QIODevice::Append);
            }
            cargador.seguir();
        }
        QCOMPARE(vistas, muestras);
        QCOMPARE(malasVistas, malas);
        QCOMPARE(reiniciado, reinicios);
    }

    // The window on a log the pipeline wrote with milliseconds: a step on show gets the same
    // figures as the live window gave; on one written in whole seconds it gives none and says
    // why; a file that is not a log says how many lines and which first.
    void ventana_data()
    {
        QTest::addColumn<bool>("milisegundos");
        QTest::newRow("with milliseconds") << true;
        QTest::newRow("whole seconds") << false;
    }
    void ventana()
    {
        QFETCH(bool, milisegundos);
        QLocale::setDefault(QLocale(QStringLiteral("es_ES")));
        const QString ruta = dir_.filePath(milisegundos ? "ms.xls" : "s.xls");
        RelojPrueba reloj(QDateTime(QDate(2026, 12, 8), QTime(14, 12, 20)));
        Form1 f;
        f.setMilisegundos(milisegundos);
        f.adquisicion().reloj().setFuente(&reloj);
        f.txtRegistro->setText(ruta);
        f.chkRegistrar->click();
        // A first-order loop at 20 samples/s, stepped from 20 to 60 after 2 s.
        double y = 20;
        for (int i = 0; i < 200; ++i) {
            const int sp = i < 40 ? 20 : 60;
            y += (sp - y) * 0.08;
            f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray(std::initializer_list<char>{char(255), char(sp), char(qRound(y))}.begin(), 3));
            reloj.avanzar(std::chrono::milliseconds(50));
        }
        f.chkRegistrar->click();
        VentanaHistorial v(ruta);
        QVERIFY(hasta([&] { return v.leido(); }));
        QCOMPARE(int(v.datos().cuantos()), 200);
        const QString motivo = v.medirEscalonEnVista();
        if (!milisegundos) {
            QVERIFY2(motivo.contains(QStringLiteral("necesitan un registro con milisegundos")), qPrintable(motivo));
            QVERIFY(!v.ventanaRespuesta());
            return;
        }
        QVERIFY2(motivo.isEmpty(), qPrintable(motivo));
        QVERIFY(v.ventanaRespuesta());
        VentanaRespuesta envivo(f.adquisicion().respuesta(), nullptr);
        envivo.actualizar();
        // Every figure, then the time of day (the test clock's steady time is no wall time).
        const auto sinHora = [](const QString &tabla) {
            QStringList filas = tabla.split(u'\n');
            for (QString &fila : filas)
                fila = fila.section(u'\t', 1);
            return filas;
        };
        QCOMPARE(sinHora(v.ventanaRespuesta()->textoTabla()), sinHora(envivo.textoTabla()));
        QCOMPARE(v.ventanaRespuesta()->textoTabla().section(u'\n', 1).section(u'\t', 0, 0),
                 QStringLiteral("14:12:22.000"));
        QVERIFY(f.adquisicion().respuesta().actual().subida.has_value());
    }

    void basura_data()
    {
        QTest::addColumn<QByteArray>("contenido");
        QTest::addColumn<QString>("aviso");
        QTest::newRow("text") << QByteArray("hola\nadiós\r\n8/12/2026 14:12:20\t50\t37\r\nfin")
            << "3 líneas no son de un registro y no se muestran; la primera es la 1: «hola».";
        QTest::newRow("binary") << QByteArray(100000, '\0')
            << "1 línea no es de un registro y no se muestra: la 1, «????????????????????????????????????????????????????????????».";
        QTest::newRow("empty") << QByteArray()
            << "El archivo está vacío: se mostrará lo que se escriba en él.";
    }
    void basura()
    {
        QFETCH(QByteArray, contenido);
        QFETCH(QString, aviso);
        QLocale::setDefault(QLocale(QStringLiteral("es_ES")));
        const QString ruta = dir_.filePath(QString::fromLatin1(QTest::currentDataTag()));
        escribir(ruta, contenido, QIODevice::WriteOnly);
        VentanaHistorial v(ruta);
        // The torn last line counts once a look has found it still cut short.
        hasta([&] { return v.leido() && v.aviso() == aviso; });
        QCOMPARE(v.aviso(), aviso);
    }
};

QTEST_MAIN(TstHistorial)
#include "tst_historial.moc"
