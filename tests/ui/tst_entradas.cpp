// Every editable box fed hostile texts: nothing crashes or hangs, the state stays
// consistent, and a message appears only where the user pressed a button.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "chart/graficotendencia.h"
#include "recepcion/adquisicion.h"
#include "pseudoterminal.h"
#include "serial/puertoserie.h"
#include "ui/avisos.h"
#include "ui/form1.h"

class TstEntradas : public QObject
{
    Q_OBJECT

    static void comprobarCoherente(Form1 &f)
    {
        QCOMPARE(f.ventana.RowCount(), f.variables.puntosX);
        QVERIFY(f.variables.puntosX > 100 && f.variables.puntosX <= 32766);
        const ValueScale &e = f.MSChart1->valueScale();
        QVERIFY(e.Maximum > 0 && std::isfinite(e.Maximum));
        QVERIFY(e.MajorDivision >= 0);
        f.MSChart1->redibujar(); // drawing whatever the scale holds terminates
        QVERIFY(f.MSChart1->yAxis->tickVector().size() <= 202);
        // The pipeline still works.
        f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray("\x21", 1));
        QCOMPARE(f.ventana.fila(f.ventana.RowCount()).dato, 0x21);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void textos_data()
    {
        QTest::addColumn<QString>("caja");
        QTest::addColumn<QString>("texto");
        const QStringList cajas{"txtPuerto", "txtSetPoint", "txtAncho", "txtEscala",
                                "txtMajorDivision", "txtRegistro"};
        const QList<QPair<const char *, QString>> textos{
            {"empty", ""},
            {"long", QString(100000, u'9')},
            {"long letters", QString(50000, u'x')},
            {"non-numeric", "doce"},
            {"huge", "1e308"},
            {"overflow", "1e999"},
            {"negative", "-32769"},
            {"negative zero", "-0"},
            {"exponent", "2e3"},
            {"tiny", "1e-320"},
            {"nan", "nan"},
            {"control characters", QString::fromLatin1("1\t2\r\n\x01\x1b")},
            {"nul", QString(QChar(0)) + "512"},
            {"spaces only", "   "},
            {"unicode digits", QString::fromUtf8("٥١٢")},
        };
        for (const QString &c : cajas)
            for (const auto &t : textos)
                QTest::addRow("%s %s", qPrintable(c), t.first) << c << t.second;
    }
    void textos()
    {
        QFETCH(QString, caja);
        QFETCH(QString, texto);
        Form1 f;
        auto *edit = f.findChild<QLineEdit *>(caja);
        QVERIFY(edit);
        edit->setText(texto);
        QTest::keyClicks(edit, "7"); // and one keystroke on top of it
        comprobarCoherente(f);
        QTest::qWait(1);
        QVERIFY(f.avisos().mostrados().isEmpty()); // typing alone never raises a message
    }

    // The same texts behind the buttons that read them: at most one clear message each.
    void botones_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::newRow("long") << QString(100000, u'9');
        QTest::newRow("letters") << "COM";
        QTest::newRow("control") << QString::fromLatin1("\x01\x02");
        QTest::newRow("negative") << "-5";
        QTest::newRow("exponent") << "1e2";
        QTest::newRow("empty") << "";
    }
    void botones()
    {
        QFETCH(QString, texto);
        Pty pty;
        Form1 f;
        f.txtPuerto->setText(texto);
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
        QVERIFY(!f.MSComm1->PortOpen());
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);

        f.txtPuerto->setText(pty.ruta());
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
        QVERIFY(f.MSComm1->PortOpen());
        f.txtSetPoint->setText(texto);
        f.variables.setPoint = 3;
        f.btnEnviar->click();
        if (texto.isEmpty()) { // the box as the panel left it: nothing typed, nothing to send
            QTest::qWait(50);
            QCOMPARE(pty.leer(), QByteArray());
            QCOMPARE(f.avisos().mostrados().size(), 1);
            return;
        }
        // Whichever comes: the byte on the line, or the message that nothing was sent.
        QByteArray enviado;
        QTRY_VERIFY_WITH_TIMEOUT((enviado += pty.leer(), !enviado.isEmpty())
                                     || f.avisos().mostrados().size() == 2,
                                 10000);
        QTest::qWait(50); // and nothing more after it
        enviado += pty.leer();
        QVERIFY(enviado.size() <= 1);
        if (enviado.isEmpty()) {
            QCOMPARE(f.variables.setPoint, int16_t(3));
            QTRY_COMPARE(f.avisos().mostrados().size(), 2);
        } else {
            QVERIFY(uint8_t(enviado[0]) <= 100);
            QCOMPARE(f.variables.setPoint, int16_t(uint8_t(enviado[0])));
        }
        comprobarCoherente(f);
    }

    void registroConRutaHostil_data()
    {
        QTest::addColumn<QString>("ruta");
        QTest::newRow("empty") << "";
        QTest::newRow("long") << "/tmp/" + QString(5000, u'a');
        QTest::newRow("control") << QString::fromLatin1("/tmp/\x01\x02.xls");
        QTest::newRow("a folder") << "/tmp";
    }
    void registroConRutaHostil()
    {
        QFETCH(QString, ruta);
        Form1 f;
        f.txtRegistro->setText(ruta);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        for (int i = 0; i < 3; ++i)
            f.adquisicion().procesarEntrada(evento::comEvReceive, QByteArray("\x05\x06", 2));
        if (f.chkRegistrar->isChecked()) { // the odd name was a valid one after all
            QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
            QVERIFY(QFile::remove(ruta));
        } else {
            QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        }
        QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(6));
        comprobarCoherente(f);
    }
};

QTEST_MAIN(TstEntradas)
#include "tst_entradas.moc"
