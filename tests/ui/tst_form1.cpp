#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QProcess>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSettings>
#include <QStandardPaths>
#include <QTranslator>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include "chart/graficotendencia.h"
#include "core/variablesventana.h"
#include "pseudoterminal.h"
#include "serial/puertoserie.h"
#include "recepcion/adquisicion.h"
#include "ui/avisos.h"
#include "serial/dispositivos.h"
#include "ui/form1.h"
#include "log/registro.h"
#include "ui/lineaordenes.h"
#include "ui/traducciones.h"
#include "ui/enlaceserie.h"

class TstForm1 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void ventana()
    {
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QCOMPARE(f.windowTitle(), QStringLiteral("Velmora - Control PID"));
        QCOMPARE(f.size(), QSize(921, 566)); // 13815 x 8490 twips
        QCOMPARE(f.minimumSize(), f.maximumSize());
        const Qt::WindowFlags flags = f.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!f.windowIcon().pixmap(32).isNull());
        QCOMPARE(QFontInfo(f.font()).family(), QStringLiteral("Liberation Sans"));
        QCOMPARE(f.font().pointSizeF(), 8.25);
    }

    // Every element's place in twips (frame children relative to Frame1), text and state.
    void elementos_data()
    {
        QTest::addColumn<QString>("nombre");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("texto");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("habilitado");
        const auto fila = [](const char *n, int l, int t, int w, int h, const QString &texto,
                             bool visible = true, bool habilitado = true) {
            QTest::newRow(n) << QString::fromLatin1(n) << QRect(l, t, w, h) << texto << visible
                             << habilitado;
        };
        fila("lblPuerto", 120, 120, 975, 255, "Puerto Serial");
        fila("txtPuerto", 1080, 120, 2250, 285, "1"); // a device's own name fits
        fila("btnPuerto", 3450, 120, 975, 375, "Conectar");
        fila("lblSetPoint", 120, 600, 975, 255, "Set Point", false);
        fila("txtSetPoint", 840, 600, 615, 285, "", false); // no set point known yet
        fila("btnEnviar", 1560, 600, 975, 375, "Enviar", false, false);
        fila("lblDato", 2760, 600, 1575, 255, "Último dato recibido");
        fila("txtDato", 4200, 600, 735, 285, "");
        fila("txtTiempo", 4920, 600, 735, 285, "");
        fila("lblSegundos", 5700, 600, 240, 255, "s");
        fila("chkAutoEscala", 12120, 120, 1335, 255, "Auto escala");
        fila("lblEscala", 11280, 480, 1530, 195, "Valor máximo de Y");
        fila("txtEscala", 12960, 480, 495, 285, "50");
        fila("lblMajorDivision", 11040, 840, 1770, 195, "Cuántas divisiones en Y");
        fila("txtMajorDivision", 12960, 840, 495, 285, "25");
        fila("lblAncho", 11160, 1200, 1650, 195, "Cuántos valores en X");
        fila("txtAncho", 12960, 1200, 495, 285, "512");
        fila("MSChart1", 240, 1560, 13455, 5895, "");
        fila("Frame1", 120, 7560, 13575, 735, "Registro de datos");
        fila("chkRegistrar", 240, 270, 255, 255, "");
        fila("txtRegistro", 600, 240, 10335, 285, QDir::toNativeSeparators(
                                                       QCoreApplication::applicationDirPath()
                                                       + "/registro.xls"));
        fila("btnCambiarDestino", 11040, 270, 2295, 255, "Cambiar destino...");
    }
    void elementos()
    {
        QFETCH(QString, nombre);
        QFETCH(QRect, twips);
        QFETCH(QString, texto);
        QFETCH(bool, visible);
        QFETCH(bool, habilitado);
        Form1 f;
        f.show();
        auto *w = f.findChild<QWidget *>(nombre);
        QVERIFY(w);
        QCOMPARE(w->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15,
                                      twips.height() / 15));
        QCOMPARE(w->parentWidget(), nombre == "chkRegistrar" || nombre == "txtRegistro"
                                            || nombre == "btnCambiarDestino"
                                        ? static_cast<QWidget *>(f.Frame1)
                                        : static_cast<QWidget *>(&f));
        QString actual;
        if (auto *l = qobject_cast<QLabel *>(w))
            actual = l->text();
        else if (auto *e = qobject_cast<QLineEdit *>(w))
            actual = e->text();
        else if (auto *b = qobject_cast<QAbstractButton *>(w))
            actual = b->text();
        else if (auto *g = qobject_cast<QGroupBox *>(w))
            actual = g->title();
        QCOMPARE(actual, texto);
        QCOMPARE(w->isVisible(), visible);
        QCOMPARE(w->isEnabled(), habilitado);
        QVERIFY(w->font() == f.font()); // no element has a font of its own
    }

    void sinTextosCortados()
    {
        Form1 f;
        f.show();
        for (QLabel *l : f.findChildren<QLabel *>()) {
            if (l->objectName().isEmpty())
                continue;
            QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width(),
                     qPrintable(l->objectName()));
            QVERIFY2(l->fontMetrics().height() <= l->height() + 2, qPrintable(l->objectName()));
        }
        for (QPushButton *b : {f.btnPuerto, f.btnCambiarDestino})
            QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width(),
                     qPrintable(b->objectName()));
        QStyleOptionButton opcion;
        opcion.initFrom(f.chkAutoEscala);
        const int indicador = f.chkAutoEscala->style()->pixelMetric(QStyle::PM_IndicatorWidth,
                                                                   &opcion, f.chkAutoEscala);
        QVERIFY(f.chkAutoEscala->fontMetrics().horizontalAdvance(f.chkAutoEscala->text())
                    + indicador + 4 <= f.chkAutoEscala->width());
    }

    void alineacionYCajaDeAutoEscala()
    {
        Form1 f;
        for (QLabel *l : {f.lblEscala, f.lblMajorDivision, f.lblAncho}) {
            QVERIFY(l->alignment() & Qt::AlignRight);
            QCOMPARE(l->geometry().right() + 1, 12810 / 15); // all end at the same x
        }
        QCOMPARE(f.chkAutoEscala->layoutDirection(), Qt::RightToLeft); // box after the caption
        QCOMPARE(f.chkAutoEscala->geometry().right() + 1, 13455 / 15);
    }

    void ordenDeTabulacion()
    {
        Form1 f;
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QCOMPARE(QApplication::focusWidget(), f.btnPuerto);
        QStringList recorrido;
        for (int i = 0; i < 13; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            recorrido << QApplication::focusWidget()->objectName();
        }
        // Hidden and disabled elements are skipped: from btnCambiarDestino to txtTiempo.
        QCOMPARE(recorrido, (QStringList{"txtPuerto", "MSChart1", "txtDato", "chkRegistrar",
                                         "txtRegistro", "btnCambiarDestino", "txtTiempo",
                                         "chkAutoEscala", "txtEscala", "txtMajorDivision",
                                         "txtAncho", "btnPuerto", "txtPuerto"}));
    }

    void lecturasRechazanEscritura()
    {
        Form1 f;
        f.show();
        f.txtDato->setText(QStringLiteral("37"));
        for (QLineEdit *e : {f.txtDato, f.txtTiempo}) {
            const QString antes = e->text();
            QTest::keyClicks(e, "99");
            QCOMPARE(e->text(), antes);
            QVERIFY(e->isReadOnly());
        }
        f.txtDato->selectAll();
        QCOMPARE(f.txtDato->selectedText(), QStringLiteral("37")); // can still be selected
    }

    void registrarAgrisaCambiarDestino()
    {
        Form1 f;
        f.show();
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        QVERIFY(!f.btnCambiarDestino->isEnabled());
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        QVERIFY(f.btnCambiarDestino->isEnabled());
    }

    void editarPuertoORegistroNoDisparaNada()
    {
        QTemporaryDir dir;
        Form1 f;
        f.show();
        QTest::keyClicks(f.txtPuerto, "ttyUSB9");
        f.txtRegistro->clear();
        QTest::keyClicks(f.txtRegistro, qPrintable(dir.filePath("x.xls")));
        QTest::qWait(20);
        QVERIFY(!f.MSComm1->PortOpen());
        QVERIFY(f.btnPuerto->isEnabled());
        QVERIFY(!f.variables.registroAbierto);
        QVERIFY(!QFile::exists(dir.filePath("x.xls")));
        QVERIFY(f.avisos().mostrados().isEmpty());
    }

    void filaDeSetPointSiempreOculta()
    {
        Pty pty;
        Form1 f;
        f.show();
        QVERIFY(!f.lblSetPoint->isVisible());
        f.txtPuerto->setText(pty.ruta());
        QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
        QVERIFY(f.MSComm1->PortOpen());
        QVERIFY(!f.btnPuerto->isEnabled());
        QVERIFY(f.btnEnviar->isEnabled());
        for (QWidget *w : {static_cast<QWidget *>(f.lblSetPoint),
                           static_cast<QWidget *>(f.txtSetPoint),
                           static_cast<QWidget *>(f.btnEnviar)})
            QVERIFY(!w->isVisible());
    }

    void guardarImagen_data()
    {
        QTest::addColumn<QString>("nombre");
        QTest::addColumn<QString>("guardado"); // empty: it fails
        QTest::newRow("with .png") << "tendencia.png" << "tendencia.png";
        QTest::newRow("no ending gets .png") << "tendencia" << "tendencia.png";
        QTest::newRow("another ending gets .png") << "tendencia.jpg" << "tendencia.jpg.png";
        QTest::newRow("upper case .PNG kept") << "tendencia.PNG" << "tendencia.PNG";
        QTest::newRow("missing folder") << "no-existe/tendencia" << "";
    }
    void guardarImagen()
    {
        QFETCH(QString, nombre);
        QFETCH(QString, guardado);
        QTemporaryDir dir;
        Form1 f;
        f.show();
        const QString fallo = f.MSChart1->guardarImagen(dir.filePath(nombre));
        QCOMPARE(fallo.isEmpty(), !guardado.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), guardado.isEmpty() ? QStringList()
                                                                           : QStringList{guardado});
        if (!guardado.isEmpty()) {
            QImageReader lector(dir.filePath(guardado));
            QCOMPARE(lector.format(), QByteArray("png"));
            // The chart, with a line above for the title and room for the axes' titles.
            const int linea = f.MSChart1->fontMetrics().height() + 6;
            QCOMPARE(lector.read().size(), f.MSChart1->size() + QSize(linea, 2 * linea));
        }
    }

    // The saved picture says what it shows: the panel, the port and when, and the axes.
    void tituloDeLaImagen()
    {
        Pty pty;
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.txtPuerto->setText(pty.ruta());
        f.btnPuerto->click();
        const QDateTime cuando(QDate(2026, 12, 9), QTime(16, 5, 7));
        QCOMPARE(GraficoTendencia::tituloImagen(f.MSComm1->descripcion(), cuando),
                 QStringLiteral("Velmora - Control PID · puerto serial %1 · 2026-12-09 16:05:07")
                     .arg(pty.ruta()));
        QCOMPARE(GraficoTendencia::tituloImagen(QString(), cuando),
                 QStringLiteral("Velmora - Control PID · sin puerto abierto · 2026-12-09 16:05:07"));
        const QImage imagen = f.MSChart1->imagen(cuando).convertToFormat(QImage::Format_RGB32);
        // Text is drawn where each title goes: the title line, under the plot, left of it.
        const int linea = f.MSChart1->fontMetrics().height() + 6;
        const QRect area = f.MSChart1->axisRect()->rect().translated(linea, linea);
        const auto oscuros = [&](const QRect &r) {
            int n = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    n += qGray(imagen.pixel(x, y)) < 100;
            return n;
        };
        const int alto = imagen.height();
        QVERIFY(oscuros(QRect(linea, 0, imagen.width() - linea, linea)) > 100);
        QVERIFY(oscuros(QRect(area.left(), alto - linea, area.width(), linea)) > 100);
        QVERIFY(oscuros(QRect(0, area.top(), linea, area.height())) > 100);
        QCOMPARE(oscuros(QRect(0, 0, linea, linea)), 0);
    }

    // The command line, for shortcuts and scripts: a port to fill in, and --conectar.
    void lineaDeOrdenes_data()
    {
        QTest::addColumn<QStringList>("argumentos");
        QTest::addColumn<int>("codigo"); // -1: the window opens
        QTest::addColumn<QString>("texto"); // what is printed starts so, or the port
        QTest::addColumn<bool>("conectar");
        QTest::newRow("nothing") << QStringList{} << -1 << "" << false;
        QTest::newRow("a port") << QStringList{"COM3"} << -1 << "COM3" << false;
        QTest::newRow("a path and --conectar")
            << QStringList{"--conectar", "/dev/serial/by-id/usb-x"} << -1
            << "/dev/serial/by-id/usb-x" << true;
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Uso: velmora" << false;
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "velmora 1.0\n" << false;
        QTest::newRow("unknown option") << QStringList{"--rapido"} << 2 << "Opción desconocida"
                                        << false;
        QTest::newRow("two ports") << QStringList{"1", "2"} << 2 << "Sobra «2»" << false;
        // Qt's own options are Qt's: QApplication takes them, with their values.
        QTest::newRow("Qt's -platform") << QStringList{"-platform", "offscreen", "COM3"} << -1
                                        << "COM3" << false;
        QTest::newRow("-style and a session manager's -session")
            << QStringList{"-style", "fusion", "--conectar", "-session", "1a2b_3c"} << -1 << ""
            << true;
        QTest::newRow("-style= and -reverse") << QStringList{"-style=fusion", "-reverse", "2"}
                                              << -1 << "2" << false;
        QTest::newRow("Qt option without its value") << QStringList{"COM3", "-platform"} << 2
                                                      << "Falta el valor de -platform" << false;
        QTest::newRow("Qt's --platform, double dash")
            << QStringList{"--platform", "offscreen", "COM3"} << -1 << "COM3" << false;
        QTest::newRow("unknown option named whole") << QStringList{"-rapido"} << 2
                                                    << "Opción desconocida: -rapido" << false;
        QTest::newRow("--help=x") << QStringList{"--help=x"} << 2
                                  << "La opción --help no lleva valor" << false;
        QTest::newRow("--conectar=1") << QStringList{"--conectar=1"} << 2
                                      << "La opción --conectar no lleva valor" << false;
        QTest::newRow("empty port") << QStringList{"", "--conectar"} << 2
                                    << "El puerto está vacío" << false;
        QTest::newRow("blank port") << QStringList{"  "} << 2 << "El puerto está vacío" << false;
        QTest::newRow("after --, a port like an option") << QStringList{"--", "-x"} << -1 << "-x"
                                                         << false;
        QTest::newRow("--consigna shows the set-point row")
            << QStringList{"COM3", "--consigna"} << -1 << "COM3" << false;
        QTest::newRow("--consigna=1") << QStringList{"--consigna=1"} << 2
                                      << "La opción --consigna no lleva valor" << false;
        QTest::newRow("--consigna after --, a port") << QStringList{"--", "--consigna"} << -1
                                                     << "--consigna" << false;
        QTest::newRow("--milisegundos") << QStringList{"--milisegundos", "COM3"} << -1 << "COM3"
                                        << false;
        QTest::newRow("--milisegundos=1") << QStringList{"--milisegundos=1"} << 2
                                          << "La opción --milisegundos no lleva valor" << false;
        QTest::newRow("--ver with no file") << QStringList{"--ver"} << 2
                                            << "Falta el archivo de --ver" << false;
        QTest::newRow("--ver= with no file") << QStringList{"--ver="} << 2
                                             << "Falta el archivo de --ver" << false;
        QTest::newRow("--ver and a port") << QStringList{"--ver", "r.xls", "COM3"} << 2
                                          << "--ver abre solo el registro" << false;
    }
    void lineaDeOrdenes()
    {
        QFETCH(QStringList, argumentos);
        QFETCH(int, codigo);
        QFETCH(QString, texto);
        QFETCH(bool, conectar);
        lineaordenes::Ordenes ordenes;
        const auto salida = lineaordenes::leer(QStringList{"velmora"} + argumentos, ordenes);
        QCOMPARE(salida ? salida->codigo : -1, codigo);
        if (salida) {
            QVERIFY2(salida->texto.startsWith(texto), qPrintable(salida->texto));
            return;
        }
        QCOMPARE(ordenes.puerto, texto);
        QCOMPARE(ordenes.conectar, conectar);
        QSettings(QStringLiteral("velmora"), QStringLiteral("velmora")).remove(Form1::claveMilisegundos);
        Form1 f;
        lineaordenes::aplicar(ordenes, f);
        // Asked for once, milliseconds stay on in the runs that follow.
        const bool ms = argumentos.contains(QStringLiteral("--milisegundos"));
        Form1 despues;
        lineaordenes::aplicar({}, despues);
        QCOMPARE(f.registro().milisegundos(), ms);
        QCOMPARE(despues.registro().milisegundos(), ms);
        QCOMPARE(f.txtPuerto->text(), texto.isEmpty() ? QStringLiteral("1") : texto);
        const bool consigna = argumentos.contains(QStringLiteral("--consigna"))
                              && !argumentos.contains(QStringLiteral("--"));
        QCOMPARE(ordenes.consigna, consigna);
        for (const QWidget *w : std::initializer_list<const QWidget *>{
                 f.lblSetPoint, f.txtSetPoint, f.btnEnviar})
            QCOMPARE(w->isHidden(), !consigna);
    }

    // The program itself, with no display at all: help and version on standard output,
    // mistakes on standard error, each with its exit code.
    void salidasDelPrograma_data()
    {
        QTest::addColumn<QStringList>("argumentos");
        QTest::addColumn<int>("codigo");
        QTest::addColumn<QString>("salida");
        QTest::addColumn<QString>("errores");
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Uso: velmora" << "";
        QTest::newRow("-h after Qt's -platform") << QStringList{"-platform", "xcb", "-h"} << 0
                                                 << "Uso: velmora" << "";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "velmora 1.0\n" << "";
        QTest::newRow("--version after Qt's --platform")
            << QStringList{"--platform", "xcb", "--version"} << 0 << "velmora 1.0\n" << "";
        QTest::newRow("unknown option") << QStringList{"--rapido"} << 2 << ""
                                        << "Opción desconocida: --rapido";
        QTest::newRow("empty port") << QStringList{""} << 2 << "" << "El puerto está vacío";
    }
    void salidasDelPrograma()
    {
        QFETCH(QStringList, argumentos);
        QFETCH(int, codigo);
        QFETCH(QString, salida);
        QFETCH(QString, errores);
        QProcess p;
        QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
        for (const char *v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            entorno.remove(QString::fromLatin1(v));
        p.setProcessEnvironment(entorno);
        p.start(QStringLiteral(VELMORA), argumentos);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), codigo);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(salida.isEmpty() ? out.isEmpty() : out.startsWith(salida), qPrintable(out));
        QVERIFY2(errores.isEmpty() ? err.isEmpty() : err.startsWith(errores), qPrintable(err));
    }

    // Qt's own texts in Spanish once the program has loaded its translations, whatever the
    // locale (C here): the buttons, and the port's own error strings.
    void textosDeQtEnEspanol()
    {
        const QStringList cargados = cargarTraducciones();
        const auto quitar = qScopeGuard([] {
            for (QTranslator *t : qApp->findChildren<QTranslator *>()) {
                QCoreApplication::removeTranslator(t);
                delete t;
            }
        });
        QVERIFY2(cargados.contains("qtbase") || cargados.contains("qt"),
                 qPrintable(cargados.join(' ')));
        QDialogButtonBox botones(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
        // Some platforms keep the shortcut's '&'.
        QCOMPARE(botones.button(QDialogButtonBox::Cancel)->text().remove(u'&'), "Cancelar");
        QCOMPARE(botones.button(QDialogButtonBox::Save)->text().remove(u'&'), "Guardar");
        QSerialPort puerto;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("device not open"));
        QVERIFY(!puerto.clear()); // the port's own catalog
        QCOMPARE(puerto.errorString(), "El dispositivo no está abierto");
    }

    // The port box shows a device's own name in full: the whole text where it fits, else its
    // end; the tooltip says which device the text names and what the system knows of it.
    void nombreDelPuerto_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<QString>("ayuda"); // the tooltip's lines after the first
        QTest::newRow("a bare name that is no port here") << "ttyVelmora" << "No está conectado ahora";
        QTest::newRow("a pseudo-terminal") << "PTY" << "El sistema no lo tiene por un puerto serial";
        QTest::newRow("a link to it") << "ENLACE" << "Enlace a PTY\nEl sistema no lo tiene por un puerto serial";
        QTest::newRow("a link to nothing") << "ROTO" << "Enlace que ahora no lleva a ningún dispositivo\nNo está conectado ahora";
        QTest::newRow("an adapter the system knows") << "PTY|1a86:7523" << "USB 1a86:7523, sin número de serie";
        QTest::newRow("one with a serial number") << "ENLACE|0403:6001:A50285BI" << "Enlace a PTY\nUSB 0403:6001, número de serie A50285BI";
        QTest::newRow("a number") << "3" << "No está conectado ahora";
        QTest::newRow("not a port") << "0" << "";
    }
    void nombreDelPuerto()
    {
        QFETCH(QString, texto);
        QFETCH(QString, ayuda);
        Pty pty;
        QTemporaryDir dir;
        const QString enlace = dir.filePath(QStringLiteral("velmora-controlador"));
        QVERIFY(QFile::link(pty.ruta(), enlace));
        QVERIFY(QFile::link(dir.filePath("nada"), dir.filePath(QStringLiteral("roto"))));
        QList<dispositivos::Dispositivo> presentes;
        const QStringList partes = texto.split(u'|');
        texto = partes[0];
        texto.replace(QStringLiteral("PTY"), pty.ruta())
            .replace(QStringLiteral("ENLACE"), enlace)
            .replace(QStringLiteral("ROTO"), dir.filePath(QStringLiteral("roto")));
        ayuda.replace(QStringLiteral("PTY"), pty.ruta());
        if (partes.size() > 1) {
            const QStringList id = partes[1].split(u':');
            presentes.append({pty.ruta(), {quint16(id[0].toUInt(nullptr, 16)),
                                           quint16(id[1].toUInt(nullptr, 16)), id.value(2)},
                              QFileInfo(pty.ruta()).fileName()});
        }
        QString motivo;
        const auto dispositivo = dispositivos::nombreDispositivo(texto, &motivo);
        const QString esperada = dispositivo
            ? QStringLiteral("Puerto serial: %1").arg(dispositivos::ubicacion(*dispositivo))
                  + (ayuda.isEmpty() ? QString() : u'\n' + ayuda)
            : QStringLiteral("«%1»: %2").arg(texto, motivo);
        QCOMPARE(enlaceserie::ayudaPuerto(texto, presentes), esperada);

        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.txtPuerto->setText(texto);
        const QFontMetrics medidas = f.txtPuerto->fontMetrics();
        const QString nombre = QFileInfo(texto).fileName();
        // The whole text where it fits; else its end, where the name shows from its first
        // letter (names up to the simulator's fit).
        // (Within the frame's few pixels, which the style decides, either is right.)
        const int ancho = medidas.horizontalAdvance(texto);
        if (ancho <= f.txtPuerto->width() - 8)
            QCOMPARE(f.txtPuerto->cursorPosition(), 0);
        else if (ancho > f.txtPuerto->width() - 4)
            QCOMPARE(f.txtPuerto->cursorPosition(), int(texto.size()));
        QVERIFY(medidas.horizontalAdvance(nombre) <= f.txtPuerto->width() - 8);
    }

    // The narrow port box offers a list as wide as its longest name.
    void listaDePuertosLegible()
    {
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        const QString largo = QStringLiteral(
            "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        enlaceserie::completarPuertos(*f.txtPuerto, {QStringLiteral("ttyS0"), largo});
        QCompleter *completer = f.txtPuerto->completer();
        QVERIFY(completer);
        QCOMPARE(completer->model()->rowCount(), 2);
        completer->setCompletionPrefix(QString());
        completer->complete();
        QAbstractItemView *lista = completer->popup();
        QVERIFY(QTest::qWaitForWindowExposed(lista));
        QVERIFY2(lista->viewport()->width() >= lista->fontMetrics().horizontalAdvance(largo),
                 qPrintable(QString::number(lista->viewport()->width())));
        lista->hide();
    }

    // --conectar presses «Conectar» once the window is up: the trend moves at once.
    void conectarAlAbrir()
    {
        Pty pty;
        Form1 f;
        f.show();
        lineaordenes::aplicar({pty.ruta(), true}, f);
        QTRY_VERIFY(f.MSComm1->PortOpen());
        QVERIFY(!f.btnPuerto->isEnabled());
        QVERIFY(pty.escribir(QByteArray(1, char(33))));
        QTRY_COMPARE(f.txtDato->text(), QStringLiteral("33"));
    }

    // A picture of the window for a person to look at, next to the test binary.
    void imagen()
    {
        Form1 f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        const QString ruta = QDir(QCoreApplication::applicationDirPath()).filePath("form1.png");
        const QImage imagen = f.grab().toImage();
        QCOMPARE(imagen.size(), QSize(921, 566));
        QVERIFY(imagen.save(ruta));
        QVERIFY(QFileInfo(ruta).size() > 1000);
    }
};

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
