#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "hasta.h"
#include "recepcion/adquisicion.h"
#include "log/formatofecha.h"
#include "log/registro.h"
#include "pseudoterminal.h"
#include "relojprueba.h"
#include "serial/puertoserie.h"
#include "ui/avisos.h"
#include "ui/form1.h"

namespace {

QByteArray leerArchivo(const QString &ruta)
{
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool escribirArchivo(const QString &ruta, const QByteArray &contenido)
{
    QFile f(ruta);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(contenido) == contenido.size();
}

// The set point and sample of every record, in order.
QStringList campos(const QByteArray &contenido)
{
    QStringList salida;
    for (const QByteArray &linea : contenido.split('\n')) {
        if (linea.isEmpty())
            continue;
        const QList<QByteArray> partes = linea.split('\t');
        if (partes.size() == 3)
            salida << QString::fromUtf8(partes[1] + "," + partes[2].trimmed());
    }
    return salida;
}

void recibir(Form1 &f, const QByteArray &b)
{
    f.adquisicion().procesarEntrada(evento::comEvReceive, b);
}

// The log on its own, with no window, the question answered by `preguntar`.
struct Montaje
{
    VariablesVentana v;
    QStringList avisos;
    Registro r;
    Montaje(const QString &ruta, Registro::Preguntar p)
        : r(v, [this](const QString &a) { avisos << a; }, std::move(p))
    {
        r.setDestino(ruta);
    }
    void marcar(bool si) { r.clickRegistrar(si ? Qt::Checked : Qt::Unchecked); }
};

Registro::Respuesta anadir(const QString &)
{
    return Registro::Respuesta::anadir;
}

} // namespace

class TstRegistro : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

    QString ruta(const char *nombre) const { return dir_.filePath(QLatin1String(nombre)); }
    // Logging to `destino` under `reloj`, in `locale`'s words.
    void registrarCon(Form1 &f, RelojPrueba &reloj, const QString &locale, bool milisegundos,
                      const QString &destino)
    {
        QLocale::setDefault(QLocale(locale));
        f.setMilisegundos(milisegundos);
        f.adquisicion().reloj().setFuente(&reloj);
        registrarEn(f, destino);
    }
    static void conectar(Form1 &f, const Pty &pty)
    {
        f.txtPuerto->setText(pty.ruta());
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    }
    void registrarEn(Form1 &f, const QString &destino)
    {
        f.txtRegistro->setText(destino);
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        QVERIFY(f.chkRegistrar->isChecked());
        QVERIFY(!f.btnCambiarDestino->isEnabled());
    }

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Beside the program where the user may write there; installed system-wide it is not
    // so, and the log goes to the user's documents.
    void destinoPorDefecto()
    {
        Form1 f;
        QCOMPARE(f.txtRegistro->text(), Registro::rutaPorDefecto());
        QStringList preguntadas;
        const auto escribible = [&](bool si) {
            return [&preguntadas, si](const QString &carpeta) {
                preguntadas << carpeta;
                return si;
            };
        };
        QCOMPARE(Registro::rutaPorDefecto(escribible(true)),
                 QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/registro.xls"));
        QCOMPARE(preguntadas, QStringList{QCoreApplication::applicationDirPath()});
        QString documentos = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!QFileInfo(documentos).isDir())
            documentos = QDir::homePath();
        QCOMPARE(Registro::rutaPorDefecto(escribible(false)),
                 QDir::toNativeSeparators(documentos + "/registro.xls"));
        QVERIFY(!f.txtRegistro->text().contains(u'\\'));
    }

    // With milliseconds the seconds carry three decimals after the language's decimal
    // separator (leading zeros kept; never rounded up into the next second); without, the
    // record is as it always was, the fraction dropped.
    void formato_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("ms");
        QTest::addColumn<bool>("milisegundos");
        QTest::addColumn<QString>("texto");
        QTest::newRow("es_ES") << "es_ES" << 0 << false << "6/12/2026 1:38:07";
        QTest::newRow("en_US") << "en_US" << 0 << false << "12/6/2026 1:38:07 AM";
        QTest::newRow("de_DE") << "de_DE" << 0 << false << "06.12.2026 01:38:07";
        QTest::newRow("es_ES fraccion sin ms") << "es_ES" << 999 << false << "6/12/2026 1:38:07";
        QTest::newRow("es_ES ms") << "es_ES" << 250 << true << "6/12/2026 1:38:07,250";
        QTest::newRow("en_US ms") << "en_US" << 5 << true << "12/6/2026 1:38:07.005 AM";
        QTest::newRow("de_DE ms") << "de_DE" << 999 << true << "06.12.2026 01:38:07,999";
        QTest::newRow("C ms 0") << "C" << 0 << true << "6 Dec 2026 01:38:07.000";
    }
    void formato()
    {
        QFETCH(QString, locale);
        QFETCH(int, ms);
        QFETCH(bool, milisegundos);
        QFETCH(QString, texto);
        const QDateTime momento(QDate(2026, 12, 6), QTime(1, 38, 7, ms));
        QCOMPARE(FormatoFecha(QLocale(locale)).texto(momento, milisegundos), texto);

        // A real record, written by the pipeline under that locale at that local time.
        RelojPrueba reloj(momento);
        Form1 f;
        const QString destino = ruta(qPrintable(locale + QString::number(ms) + ".xls"));
        registrarCon(f, reloj, locale, milisegundos, destino);
        recibir(f, bytes({255, 50, 37, 0}));
        QMetaObject::invokeMethod(f.chkRegistrar, "click"); // logging off closes the file
        QCOMPARE(leerArchivo(destino), (texto + "\t50\t37\r\n" + texto + "\t50\t0\r\n").toUtf8());
    }

    // Each sample of a gathered read is logged at its own time (as the time box shows it),
    // never before the one logged last; a wall clock stepped back over a second shows.
    void milisegundosDeCadaMuestra_data()
    {
        QTest::addColumn<int>("llegadaUs");
        QTest::addColumn<int>("saltoUs"); // of the wall clock alone, before the second read
        QTest::addColumn<QStringList>("horas");
        QTest::newRow("juntas") << 0 << 0
                                << QStringList{"00,000", "00,000", "00,000", "00,010", "00,010", "00,010"};
        QTest::newRow("repartidas en 30 ms") << 30000 << 0
                                << QStringList{"00,000", "00,000", "00,000", "00,003", "00,006", "00,010"};
        QTest::newRow("pared 20 ms atrás") << 0 << -20000
                                << QStringList{"00,000", "00,000", "00,000", "00,000", "00,000", "00,000"};
        QTest::newRow("pared 2 s atrás") << 0 << -2000000
                                << QStringList{"00,000", "00,000", "00,000", "58,010", "58,010", "58,010"};
    }
    void milisegundosDeCadaMuestra()
    {
        QFETCH(int, llegadaUs);
        QFETCH(int, saltoUs);
        QFETCH(QStringList, horas);
        RelojPrueba reloj(QDateTime(QDate(2026, 12, 6), QTime(1, 38, 0)));
        Form1 f;
        const QString destino = ruta(QTest::currentDataTag());
        registrarCon(f, reloj, QStringLiteral("es_ES"), true, destino);
        recibir(f, bytes({1, 2, 3}));
        reloj.avanzar(std::chrono::microseconds(10000), std::chrono::microseconds(saltoUs));
        f.adquisicion().procesarEntrada(evento::comEvReceive, bytes({4, 5, 6}),
                                        std::chrono::microseconds(llegadaUs));
        QMetaObject::invokeMethod(f.chkRegistrar, "click");
        QStringList leidas;
        for (const QByteArray &linea : leerArchivo(destino).split('\n'))
            if (!linea.isEmpty())
                leidas << QString::fromUtf8(linea.split('\t').at(0)).section(u':', 2);
        QCOMPARE(leidas, horas);
    }

    // No file until a sample comes; the largest event holds several buffers' worth of
    // records and every one reaches the file; closing the window closes the log.
    void registroDeLaVentana()
    {
        const QString destino = ruta("ventana.xls");
        QStringList esperado;
        {
            Form1 f;
            registrarEn(f, destino);
            QVERIFY(!QFile::exists(destino));
            QVERIFY(!f.variables.registroAbierto);
            QByteArray entrada;
            for (int i = 0; i < PuertoSerie::maxEntrada; ++i) {
                entrada.append(char(i % 255));
                esperado << QStringLiteral(",%1").arg(i % 255);
            }
            recibir(f, entrada);
            QCOMPARE(campos(leerArchivo(destino)), esperado);
            recibir(f, bytes({8, 9}));
            f.close();
            QVERIFY(!f.variables.archivoRegistro.isOpen());
        }
        QCOMPARE(campos(leerArchivo(destino)), esperado << ",8" << ",9");
    }

    // Logging switched on again where records already are: the user says whether to add to
    // them. Samples that come while the question is open are plotted at once and logged
    // after the answer, unless it declines logging.
    void marcarDeNuevo_data()
    {
        QTest::addColumn<QString>("respuesta"); // the button pressed, or Enter
        QTest::addColumn<QStringList>("registros");
        QTest::newRow("added") << "Añadir al final" << QStringList{",1", ",2", ",3", ",4"};
        QTest::newRow("Enter adds") << "Enter" << QStringList{",1", ",2", ",3", ",4"};
        QTest::newRow("anew") << "Vaciar y empezar de nuevo" << QStringList{",3", ",4"};
        QTest::newRow("Cancelar leaves logging off") << "Cancelar" << QStringList{",1", ",2"};
    }
    void marcarDeNuevo()
    {
        QFETCH(QString, respuesta);
        QFETCH(QStringList, registros);
        Pty pty;
        Form1 f;
        f.show();
        conectar(f, pty);
        const QString destino = ruta(qPrintable("de-nuevo-" + respuesta + ".xls"));
        registrarEn(f, destino);
        QVERIFY(pty.escribir(bytes({1, 2})));
        QTRY_COMPARE(campos(leerArchivo(destino)), (QStringList{",1", ",2"}));
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        QVERIFY(!f.variables.registroAbierto);

        QString pregunta;
        int filaDurante = -1;
        // Runs inside the question's own event loop.
        QTimer::singleShot(50, this, [&] {
            auto *caja = f.findChild<QMessageBox *>(QStringLiteral("preguntaAnadir"));
            if (!caja)
                return;
            pregunta = caja->text();
            pty.escribir(bytes({3}));
            hasta([&] { return f.ventana.fila(512).dato == 3; }, 5000);
            filaDurante = f.ventana.fila(512).dato;
            if (respuesta == QLatin1String("Enter")) {
                QTest::keyClick(caja, Qt::Key_Return);
                return;
            }
            for (QAbstractButton *boton : caja->buttons())
                if (boton->text() == respuesta)
                    boton->click();
        });
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton); // returns when the question closes
        QCOMPARE(pregunta, QStringLiteral("El archivo %1 ya contiene datos. ¿Añadir los nuevos "
                                          "registros al final, o vaciarlo y empezar de nuevo?")
                               .arg(QDir::toNativeSeparators(destino)));
        QCOMPARE(filaDurante, 3);
        const bool cancelado = respuesta == QLatin1String("Cancelar");
        QCOMPARE(f.chkRegistrar->isChecked(), !cancelado);
        QCOMPARE(f.btnCambiarDestino->isEnabled(), cancelado);
        QVERIFY(pty.escribir(bytes({4})));
        QTRY_COMPARE(f.ventana.fila(512).dato, 4);
        f.close();
        QCOMPARE(campos(leerArchivo(destino)), registros);
    }

    void valorDosNiRegistraNiCierra()
    {
        Form1 f;
        const QString destino = ruta("gris.xls");
        registrarEn(f, destino);
        recibir(f, bytes({1}));
        f.chkRegistrar->setCheckState(Qt::PartiallyChecked);
        QMetaObject::invokeMethod(f.chkRegistrar, "clicked", Q_ARG(bool, false));
        QVERIFY(f.variables.registroAbierto);
        QVERIFY(!f.btnCambiarDestino->isEnabled());
        recibir(f, bytes({2}));
        QCOMPARE(campos(leerArchivo(destino)), QStringList{",1"});
        QCOMPARE(f.ventana.fila(512).dato, 2); // still plotted
    }

    void dialogo_data()
    {
        QTest::addColumn<bool>("aceptar");
        QTest::newRow("accepted") << true;
        QTest::newRow("cancelled") << false;
    }
    void dialogo()
    {
        QFETCH(bool, aceptar);
        // The user picks a file that already holds records, to add to it.
        QVERIFY(escribirArchivo(ruta("elegido.xls"), "viejo\t1\t2\r\n"));
        Pty pty;
        Form1 f;
        f.show();
        conectar(f, pty);
        QVERIFY(f.MSComm1->PortOpen());
        const QString antes = f.txtRegistro->text();
        bool visible = false;
        QString carpeta;
        QString datoDurante;
        QString reemplazar;
        int filaDurante = -1;
        // Runs inside the dialog's own event loop; whatever it finds, it closes the dialog.
        QTimer::singleShot(100, this, [&] {
            visible = f.CommonDialog1->isVisible();
            carpeta = f.CommonDialog1->directory().filePath(
                f.CommonDialog1->findChild<QLineEdit *>("fileNameEdit")->text());
            // Samples keep arriving and being shown while the dialog is open.
            pty.escribir(bytes({255, 7, 21, 22}));
            hasta([&] { return f.txtDato->text() == QStringLiteral("22"); }, 5000);
            datoDurante = f.txtDato->text();
            filaDurante = f.ventana.fila(512).dato;
            if (aceptar) {
                // As a user does: go to a folder, type a name without extension, accept.
                f.CommonDialog1->setDirectory(dir_.path());
                if (auto *nombre = f.CommonDialog1->findChild<QLineEdit *>("fileNameEdit"))
                    nombre->setText(QStringLiteral("elegido"));
                // Qt's own «¿Desea reemplazarlo?» would answer for the records: it never shows.
                QTimer::singleShot(50, this, [&] {
                    auto *caja = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                    if (caja && caja->parent() == f.CommonDialog1) {
                        reemplazar = caja->text();
                        caja->button(QMessageBox::Yes)->click();
                    }
                });
                QMetaObject::invokeMethod(f.CommonDialog1, "accept");
                if (f.CommonDialog1->isVisible()) // not accepted: fail below, do not hang
                    f.CommonDialog1->reject();
            } else {
                f.CommonDialog1->reject();
            }
        });
        QTest::mouseClick(f.btnCambiarDestino, Qt::LeftButton); // returns when the dialog closes
        QVERIFY(visible);
        QCOMPARE(f.CommonDialog1->defaultSuffix(), QStringLiteral("xls"));
        QCOMPARE(carpeta, QDir::fromNativeSeparators(antes)); // it starts on the log
        QCOMPARE(f.CommonDialog1->nameFilters().value(0), "Registros (*.xls)");
        QCOMPARE(datoDurante, QStringLiteral("22"));
        QCOMPARE(filaDurante, 22);
        QCOMPARE(f.txtRegistro->text(),
                 aceptar ? QDir::toNativeSeparators(ruta("elegido.xls")) : antes);
        QCOMPARE(reemplazar, QString());
        if (!aceptar)
            return;
        // Ticking asks the panel's own question, adding first.
        bool preguntado = false;
        QTimer::singleShot(50, this, [&] {
            if (auto *caja = f.findChild<QMessageBox *>(QStringLiteral("preguntaAnadir"))) {
                preguntado = true;
                caja->defaultButton()->click();
            }
        });
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        QVERIFY(preguntado);
        recibir(f, bytes({23}));
        f.close();
        QCOMPARE(campos(leerArchivo(ruta("elegido.xls"))), (QStringList{"1,2", "7,23"}));
    }

    void fallos_data()
    {
        QTest::addColumn<QString>("destino");
        QTest::addColumn<int>("limite"); // largest file the system lets the panel write
        QTest::addColumn<QString>("motivo"); // the cause as the message gives it
        QTest::newRow("missing folder") << "no-existe/registro.xls" << 0
                                         << "no existe esa carpeta o ese archivo";
        QTest::newRow("a file as folder")
            << "archivo/registro.xls" << 0 << "una parte de la ruta no es una carpeta";
        QTest::newRow("read-only place") << (geteuid() == 0 ? "/proc/velmora-registro.xls"
                                                           : "solo-lectura/registro.xls") << 0
                                         << "";
        QTest::newRow("a device") << "/dev/full" << 0 << "no es un archivo normal";
        // Opening a FIFO for writing waits for a reader: it would freeze the panel.
        QTest::newRow("a FIFO with no reader") << "fifo" << 0 << "no es un archivo normal";
        QTest::newRow("a folder") << "solo-lectura" << 0 << "es una carpeta";
        QTest::newRow("writes fail midway")
            << "limitado.xls" << 100 << "el archivo ha llegado al tamaño máximo permitido";
        QTest::newRow("writes fail midway, adding to old records")
            << "anadido.xls" << 130 << "el archivo ha llegado al tamaño máximo permitido";
    }
    void fallos()
    {
        QFETCH(QString, destino);
        QFETCH(int, limite);
        QFETCH(QString, motivo);
        QFile(ruta("archivo")).open(QIODevice::WriteOnly);
        ::mkfifo(qPrintable(ruta("fifo")), 0600);
        QDir(dir_.path()).mkdir("solo-lectura");
        QFile::setPermissions(ruta("solo-lectura"), QFile::ReadOwner | QFile::ExeOwner);
        const QString completo = destino.startsWith('/') ? destino : ruta(qPrintable(destino));
        const QByteArray previo = destino == "anadido.xls" ? "viejo\t1\t2\r\nviejo\t1\t2\r\n" : "";
        QVERIFY(previo.isEmpty() || escribirArchivo(completo, previo));

        Form1 f;
        QTimer::singleShot(0, this, [&] { // adding
            if (auto *caja = f.findChild<QMessageBox *>(QStringLiteral("preguntaAnadir")))
                caja->defaultButton()->click();
        });
        registrarEn(f, completo);
        rlimit antes{};
        ::getrlimit(RLIMIT_FSIZE, &antes);
        if (limite) {
            ::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
            rlimit r = antes;
            r.rlim_cur = rlim_t(limite);
            ::setrlimit(RLIMIT_FSIZE, &r);
        }
        for (int i = 0; i < 5; ++i)
            recibir(f, bytes({10, 11, 12}));
        ::setrlimit(RLIMIT_FSIZE, &antes);
        QTRY_COMPARE(f.avisos().mostrados().size(), 1);
        QTest::qWait(50);
        QCOMPARE(f.avisos().mostrados().size(), 1);
        const QString aviso = f.avisos().mostrados().first();
        QVERIFY(aviso.contains(QDir::toNativeSeparators(completo)));
        QVERIFY2(motivo.isEmpty() || aviso.contains(": " + motivo + ".\n"), qPrintable(aviso));
        // What reached the file before the failure is whole records only.
        if (limite) {
            const QByteArray escrito = leerArchivo(completo);
            QVERIFY(escrito.size() > previo.size() && escrito.startsWith(previo));
            QVERIFY(escrito.endsWith("\r\n"));
            QCOMPARE(campos(escrito).size(), escrito.count('\n'));
        }
        QVERIFY(!f.variables.registroAbierto);
        QVERIFY(!f.chkRegistrar->isChecked());
        QVERIFY(f.btnCambiarDestino->isEnabled());
        QCOMPARE(f.adquisicion().muestrasRecibidas(), uint64_t(15));
        QCOMPARE(f.ventana.fila(512).dato, 12);
        // Pointing logging somewhere sound works again.
        registrarEn(f, ruta(QTest::currentDataTag()));
        recibir(f, bytes({13}));
        QCOMPARE(campos(leerArchivo(ruta(QTest::currentDataTag()))), QStringList{",13"});
    }

    // A log chosen in the file dialog is a choice, never a confirmation to empty it: ticking
    // logging asks the panel's own question, and only «Vaciar y empezar de nuevo» empties it.
    void destinoElegidoConRegistros_data()
    {
        QTest::addColumn<int>("respuesta");
        QTest::addColumn<int>("viejos"); // old records left
        QTest::addColumn<int>("nuevos");
        QTest::newRow("added") << int(Registro::Respuesta::anadir) << 806 << 1;
        QTest::newRow("anew") << int(Registro::Respuesta::vaciar) << 0 << 1;
        QTest::newRow("Cancelar") << int(Registro::Respuesta::cancelar) << 806 << 0;
    }
    void destinoElegidoConRegistros()
    {
        QFETCH(int, respuesta);
        QFETCH(int, viejos);
        QFETCH(int, nuevos);
        const QString destino = ruta(qPrintable(QStringLiteral("ayer-%1.xls").arg(respuesta)));
        QVERIFY(escribirArchivo(destino, QByteArray("8/12/2026 17:02:11\t30\t29\r\n").repeated(806)));
        QStringList preguntas;
        Montaje m(ruta("actual.xls"), [&](const QString &r) {
            preguntas << r;
            return Registro::Respuesta(respuesta);
        });
        m.r.setDestino(QDir::toNativeSeparators(destino));
        m.marcar(true);
        QCOMPARE(preguntas, QStringList{destino});
        if (m.r.registrando())
            QVERIFY(m.r.escribirRegistro(31, 30, 0) && m.r.terminarEvento());
        m.r.cerrarRegistro();
        const QStringList registros = campos(leerArchivo(destino));
        QCOMPARE(registros.count(QStringLiteral("30,29")), viejos);
        QCOMPARE(registros.count(QStringLiteral("30,31")), nuevos);
    }

    // A last line without its end (a write cut short elsewhere) never runs into a new record;
    // one ending in a bare CR gets only its LF. A set point not yet reported: an empty field.
    void lineaIncompletaNoSeJunta_data()
    {
        QTest::addColumn<QByteArray>("fin");
        QTest::newRow("cut short") << QByteArray();
        QTest::newRow("bare CR") << QByteArray("\r");
    }
    void lineaIncompletaNoSeJunta()
    {
        QFETCH(QByteArray, fin);
        const QString destino = ruta(QTest::currentDataTag());
        QVERIFY(escribirArchivo(destino, "6/12/2026 1:38:07\t50\t37\r\n6/12/2026 1:38:08" + fin));
        Montaje m(destino, anadir);
        m.marcar(true);
        QVERIFY(m.r.escribirRegistro(23, std::nullopt, 0) && m.r.terminarEvento());
        const QList<QByteArray> lineas = leerArchivo(destino).split('\n');
        QCOMPARE(lineas.size(), 4);
        QCOMPARE(lineas[1], QByteArray("6/12/2026 1:38:08\r"));
        QVERIFY(lineas[2].endsWith("\t\t23\r"));
    }

    // Samples held during the question: up to the limit, the rest counted; none after «Cancelar».
    void retenidas_data()
    {
        QTest::addColumn<QList<int>>("rondas"); // per tick: samples held, answer (0 1 2)
        QTest::addColumn<int>("registros");
        QTest::addColumn<QString>("aviso");
        const int max = int(Registro::maxRetenidos);
        QTest::newRow("just the limit") << QList<int>{max, 0} << 1 + max << "";
        QTest::newRow("one past it") << QList<int>{max + 1, 1} << max << ": 1 no se registraron.";
        QTest::newRow("cancelled, then added") << QList<int>{3, 2, 1, 0} << 1 + 1 << "";
    }
    void retenidas()
    {
        QFETCH(QList<int>, rondas);
        QFETCH(int, registros);
        QFETCH(QString, aviso);
        const QString destino = ruta(QTest::currentDataTag());
        QVERIFY(escribirArchivo(destino, "viejo\t\t0\r\n"));
        qsizetype i = 0;
        Montaje m(destino, [&](const QString &) {
            for (int k = 0; k < rondas[i]; ++k)
                m.r.retener(1, 2, 0);
            return Registro::Respuesta(rondas[i + 1]);
        });
        for (; i < rondas.size(); i += 2)
            m.marcar(true), m.marcar(false);
        QCOMPARE(campos(leerArchivo(destino)).size(), registros);
        QCOMPARE(m.avisos.size(), int(!aviso.isEmpty()));
        QVERIFY(m.avisos.isEmpty() || m.avisos[0].endsWith(aviso));
    }

    // One writer per log file: others are told, before or after their tick, and do not log.
    void unSoloEscritor()
    {
        const QString destino = ruta("uno.xls");
        Montaje a(destino, anadir), b(destino, anadir), c(destino, anadir);
        a.marcar(true);
        b.marcar(true);
        QVERIFY(a.r.escribirRegistro(1, 5, 0) && a.r.terminarEvento());
        QVERIFY(!b.r.escribirRegistro(2, 6, 0));
        c.marcar(true);
        for (Montaje *otro : {&b, &c})
            QVERIFY(!otro->r.registrando() && otro->avisos.size() == 1
                    && otro->avisos[0].contains(QDir::toNativeSeparators(destino) + "»: otro panel"));
        a.marcar(false);
        b.marcar(true);
        QVERIFY(b.r.escribirRegistro(4, 6, 0) && b.r.terminarEvento());
        QCOMPARE(campos(leerArchivo(destino)), (QStringList{"5,1", "6,4"}));
    }

    // What the lock call answers decides, on file systems this machine lacks: only a lock
    // held elsewhere is another panel; no locks there, or a call a signal cut short, logs.
    void cerrojo_data()
    {
        QTest::addColumn<int>("error"); // of the first call; a call after EINTR is granted
        QTest::addColumn<bool>("registra");
        QTest::newRow("held by another") << int(EWOULDBLOCK) << false;
        QTest::newRow("no locks on that file system") << int(ENOLCK) << true;
        QTest::newRow("locks not supported there") << int(EOPNOTSUPP) << true;
        QTest::newRow("cut short by a signal, then granted") << int(EINTR) << true;
    }
    void cerrojo()
    {
        QFETCH(int, error);
        QFETCH(bool, registra);
        const QString destino = ruta(QTest::currentDataTag());
        Montaje m(destino, anadir);
        int llamadas = 0;
        m.r.setBloqueo([&](int, int) {
            if (llamadas++ > 0 && error == EINTR)
                return 0;
            errno = error;
            return -1;
        });
        m.marcar(true);
        QCOMPARE(m.r.escribirRegistro(7, 3, 0) && m.r.terminarEvento(), registra);
        QCOMPARE(m.r.registrando(), registra);
        QCOMPARE(m.avisos.size(), int(!registra));
        QVERIFY(registra || m.avisos[0].contains("»: otro panel"));
        QCOMPARE(campos(leerArchivo(destino)), registra ? QStringList{"3,7"} : QStringList{});
    }

    // Log-out, Ctrl+C and a closed terminal end the panel also with a message and the log's
    // question on show; a signal ignored at start (nohup, a script) stays ignored.
    void senales_data()
    {
        QTest::addColumn<int>("ignorada"); // at start; 0: none
        QTest::addColumn<int>("senal");
        QTest::newRow("SIGTERM") << 0 << int(SIGTERM);
        QTest::newRow("nohup: SIGHUP stays ignored") << int(SIGHUP) << int(SIGTERM);
        QTest::newRow("a script ignoring SIGINT") << int(SIGINT) << int(SIGHUP);
    }
    void senales()
    {
        QFETCH(int, ignorada);
        QFETCH(int, senal);
        QVERIFY(escribirArchivo(ruta("senales.xls"), "viejo\t1\t2\r\n"));
        QProcess panel;
        panel.setChildProcessModifier([ignorada] { ::signal(ignorada ? ignorada : SIGUSR2, SIG_IGN); });
        panel.start(PANEL_REGISTRO, {"/dev/velmora-no-existe", ruta("senales.xls"), "abierto"});
        QVERIFY(panel.waitForReadyRead(20000) && panel.readLine() == "abierto\n");
        const QByteArray estado = leerArchivo(QStringLiteral("/proc/%1/status").arg(panel.processId()));
        const quint64 ignoradas = estado.mid(estado.indexOf("SigIgn:") + 8, 16).toULongLong(nullptr, 16);
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGXFSZ})
            QCOMPARE(bool(ignoradas >> (s - 1) & 1), s == ignorada || s == SIGXFSZ);
        ::kill(pid_t(panel.processId()), senal);
        QVERIFY(panel.waitForFinished(20000) && panel.exitStatus() == QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), 0);
    }

    // The panel killed outright keeps every record of the events it had finished.
    void sobreviveASigkill()
    {
        Pty pty;
        const QString destino = ruta("kill.xls");
        QProcess panel;
        panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        panel.start(QStringLiteral(PANEL_REGISTRO), {pty.ruta(), destino});
        QVERIFY(panel.waitForReadyRead(10000));
        QCOMPARE(panel.readLine().trimmed(), QByteArray("listo"));
        QStringList esperado;
        for (int evento = 0; evento < 20; ++evento) {
            QByteArray chunk;
            for (int i = 0; i < 50; ++i) {
                chunk.append(char((evento + i) % 255));
                esperado << QStringLiteral(",%1").arg((evento + i) % 255);
            }
            QVERIFY(pty.escribir(chunk));
            QTest::qWait(20);
        }
        // Every record reaches the file while the panel runs on with the file open...
        QTRY_COMPARE_WITH_TIMEOUT(campos(leerArchivo(destino)), esperado, 10000);
        ::kill(pid_t(panel.processId()), SIGKILL);
        QVERIFY(panel.waitForFinished(5000));
        QCOMPARE(panel.exitStatus(), QProcess::CrashExit);
        // ...and stays there when it dies without closing it.
        QCOMPARE(campos(leerArchivo(destino)), esperado);
    }
};

QTEST_MAIN(TstRegistro)
#include "tst_registro.moc"
