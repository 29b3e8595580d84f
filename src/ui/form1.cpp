#include "form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include <type_traits>

#include "chart/escalay.h"
#include "chart/graficotendencia.h"
#include "historial/ventanahistorial.h"
#include "recepcion/adquisicion.h"
#include "recepcion/esperadatos.h"
#include "log/registro.h"
#include "ui/enlaceserie.h"
#include "serial/dispositivos.h"
#include "serial/puertoserie.h"
#include "ui/avisos.h"
#include "ui/lecturas.h"
#include "ui/preguntaregistro.h"
#include "respuesta/ventanarespuesta.h"
#include "programa/ejecutor.h"
#include "ui/ventanaprograma.h"

namespace {

// The layout is given in twips; 15 make a pixel at 96 dots per inch.
void colocar(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(left / 15, top / 15, width / 15, height / 15);
}

// A named element with its text, placed by its twips rectangle.
template <typename W>
W *crear(QWidget *padre, const char *nombre, const QString &texto, QRect twips)
{
    auto *w = new W(padre);
    w->setObjectName(QLatin1String(nombre));
    if constexpr (std::is_same_v<W, QGroupBox>)
        w->setTitle(texto);
    else
        w->setText(texto);
    colocar(w, twips.x(), twips.y(), twips.width(), twips.height());
    return w;
}

QFont fuenteVentana()
{
    // Liberation Sans has the metrics of the classic 8-point dialog font's successors.
    QFont fuente(QStringLiteral("Liberation Sans"));
    fuente.setStyleHint(QFont::SansSerif);
    fuente.setPointSizeF(8.25);
    return fuente;
}

} // namespace

const QString Form1::ayudaTiempo =
    QStringLiteral("Segundos desde la muestra anterior: el espaciado con que el controlador "
                   "envía sus muestras");

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velmora - Control PID"));
    setWindowIcon(QIcon(QStringLiteral(":/velmora.png")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(anchoCliente, altoCliente);
    setFont(fuenteVentana());

    avisos_ = new Avisos(this);
    crearElementos();

    avisar_ = [this](const QString &texto) { avisos_->avisar(texto); };
    registro_ = std::make_unique<Registro>(
        variables, avisar_, [this](const QString &ruta) { return preguntarRegistro(this, ruta); });
    adquisicion_ = std::make_unique<Adquisicion>(variables, ventana, *registro_);
    lecturas_ = std::make_unique<Lecturas>(*adquisicion_, *txtTiempo, *txtDato, *txtSetPoint,
                                           *MSChart1);
    // A program's set points go as «Enviar» sends them, and the box shows each.
    ejecutor_ = std::make_unique<Ejecutor>(
        adquisicion_->reloj(),
        Ejecutor::acciones(*adquisicion_, *MSComm1,
                           [this] { lecturas_->mostrarSetPoint(variables.setPoint, true); }));
    ejecutor_->escuchar(*adquisicion_, *MSComm1);
    esperaDatos_ = std::make_unique<EsperaDatos>(*adquisicion_, [this](const QString &nota) {
        txtTiempo->setToolTip(nota.isEmpty() ? ayudaTiempo : nota);
        MSChart1->setNota(nota);
    });
    conectarEventos();
    cargar();
}

Form1::~Form1()
{
    descargar();
    // Closing in QWidget's destructor moves the focus out of the boxes: their handlers
    // must not run on a window already half gone.
    for (QObject *hijo : findChildren<QObject *>())
        disconnect(hijo, nullptr, this, nullptr);
}

void Form1::crearElementos()
{
    const auto texto = [](const char *t) { return QString::fromUtf8(t); };
    lblPuerto = crear<QLabel>(this, "lblPuerto", texto("Puerto Serial"), {120, 120, 975, 255});
    // Wide enough for a device's own name (ttyUSB0, velmora-controlador) in full.
    txtPuerto = crear<QLineEdit>(this, "txtPuerto", texto("1"), {1080, 120, 2250, 285});
    btnPuerto = crear<QPushButton>(this, "btnPuerto", texto("Conectar"), {3450, 120, 975, 375});

    // The set-point row exists but is hidden unless the command line asks for it.
    lblSetPoint = crear<QLabel>(this, "lblSetPoint", texto("Set Point"), {120, 600, 975, 255});
    txtSetPoint = crear<QLineEdit>(this, "txtSetPoint", QString(), {840, 600, 615, 285});
    txtSetPoint->setToolTip(texto("El set point del controlador; escriba otro y pulse «Enviar» "
                                  "o Intro para enviarlo"));
    btnEnviar = crear<QPushButton>(this, "btnEnviar", texto("Enviar"), {1560, 600, 975, 375});
    btnEnviar->setEnabled(false);
    // Under «Enviar»: the row has no room beside it.
    btnPrograma = crear<QPushButton>(this, "btnPrograma", texto("Programa…"), {1560, 1020, 975, 375});
    btnPrograma->setToolTip(texto("Escalones, rampas y esperas enviados solos, con límites de "
                                  "seguridad y las cifras de cada escalón"));
    for (QWidget *w : {static_cast<QWidget *>(lblSetPoint), static_cast<QWidget *>(txtSetPoint),
                       static_cast<QWidget *>(btnEnviar), static_cast<QWidget *>(btnPrograma)})
        w->setVisible(false);

    lblDato = crear<QLabel>(this, "lblDato", texto("Último dato recibido"),
                            {2760, 600, 1575, 255});
    txtDato = crear<QLineEdit>(this, "txtDato", QString(), {4200, 600, 735, 285});
    txtTiempo = crear<QLineEdit>(this, "txtTiempo", QString(), {4920, 600, 735, 285});
    txtTiempo->setToolTip(ayudaTiempo);
    lblSegundos = crear<QLabel>(this, "lblSegundos", texto("s"), {5700, 600, 240, 255});
    lblSegundos->setToolTip(ayudaTiempo);
    // They change with every frame; as opaque boxes (corners filled like the window) their
    // repaint leaves the label they overlap and the window behind them alone.
    for (QLineEdit *lectura : {txtDato, txtTiempo}) {
        lectura->setReadOnly(true);
        lectura->setBackgroundRole(QPalette::Window);
        lectura->setAutoFillBackground(true);
    }

    chkAutoEscala = crear<QCheckBox>(this, "chkAutoEscala", texto("Auto escala"),
                                     {12120, 120, 1335, 255});
    chkAutoEscala->setLayoutDirection(Qt::RightToLeft); // the box after its caption
    lblEscala = crear<QLabel>(this, "lblEscala", texto("Valor máximo de Y"),
                              {11280, 480, 1530, 195});
    txtEscala = crear<QLineEdit>(this, "txtEscala", texto("50"), {12960, 480, 495, 285});
    lblMajorDivision = crear<QLabel>(this, "lblMajorDivision", texto("Cuántas divisiones en Y"),
                                     {11040, 840, 1770, 195});
    txtMajorDivision = crear<QLineEdit>(this, "txtMajorDivision", texto("25"),
                                        {12960, 840, 495, 285});
    lblAncho = crear<QLabel>(this, "lblAncho", texto("Cuántos valores en X"),
                             {11160, 1200, 1650, 195});
    txtAncho = crear<QLineEdit>(this, "txtAncho", texto("512"), {12960, 1200, 495, 285});
    for (QLabel *l : {lblEscala, lblMajorDivision, lblAncho})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    MSChart1 = new GraficoTendencia(ventana, this);
    colocar(MSChart1, 240, 1560, 13455, 5895);

    Frame1 = crear<QGroupBox>(this, "Frame1", texto("Registro de datos"),
                              {120, 7560, 13575, 735});
    chkRegistrar = crear<QCheckBox>(Frame1, "chkRegistrar", QString(), {240, 270, 255, 255});
    txtRegistro = crear<QLineEdit>(Frame1, "txtRegistro", QString(), {600, 240, 10335, 285});
    btnCambiarDestino = crear<QPushButton>(Frame1, "btnCambiarDestino",
                                           texto("Cambiar destino..."), {11040, 270, 2295, 255});

    MSComm1 = new PuertoSerie(this);

    const QList<QWidget *> orden = {btnPuerto,    txtPuerto,     MSChart1,
                                    txtDato,      chkRegistrar,  txtRegistro,
                                    btnCambiarDestino, txtSetPoint, btnEnviar,
                                    txtTiempo,    chkAutoEscala, txtEscala,
                                    txtMajorDivision,  txtAncho};
    for (qsizetype i = 1; i < orden.size(); ++i)
        QWidget::setTabOrder(orden[i - 1], orden[i]);
    btnPuerto->setFocus();

    enlaceserie::completarPuertos(*txtPuerto);
}

void Form1::conectarEventos()
{
    MSComm1->setReceptor(
        [this](int16_t codigo, QByteArrayView entrada, std::chrono::nanoseconds llegada) {
            adquisicion_->procesarEntrada(codigo, entrada, llegada);
        });
    MSComm1->setReceptorMuestras([this](std::span<const lineaprotocolo::Muestra> muestras) {
        adquisicion_->procesarMuestras(muestras);
    });
    connect(MSComm1, &PuertoSerie::permisoCambiado, this,
            [this] { enlaceserie::permisoEnviar(*btnEnviar, *MSComm1); });
    adquisicion_->setAlRecibir([this] { lecturas_->muestrasNuevas(); });
    connect(MSComm1, &PuertoSerie::abierto, this, [this] {
        adquisicion_->puertoAbierto(
            enlaceserie::motivoApertura(puertoAnterior_, MSComm1->descripcion(), perdido_),
            MSComm1->descripcion());
        puertoAnterior_ = MSComm1->descripcion();
        MSChart1->setOrigen(puertoAnterior_);
        // Several panels on one desk: each says which controller it shows.
        setWindowTitle(QStringLiteral("Velmora - Control PID — %1").arg(puertoAnterior_));
        if (ventanaRespuesta)
            ventanaRespuesta->setOrigen(puertoAnterior_);
        perdido_ = false;
        lecturas_->mostrarSetPoint(std::nullopt, true); // unknown again: nothing to send by mistake
        esperaDatos_->puertoAbierto(MSComm1->descripcion());
    });
    connect(MSComm1, &PuertoSerie::perdido, this, [this](const QString &motivo) {
        perdido_ = true;
        esperaDatos_->puertoCerrado();
        avisoPerdida_ =
            enlaceserie::puertoPerdido(motivo, *btnPuerto, *btnEnviar, *MSComm1, avisar_);
    });
    // Bytes gathered while reading pauses are read just before each frame.
    connect(MSChart1, &GraficoTendencia::pedirDatos, MSComm1, &PuertoSerie::leerPendiente);
    connect(MSComm1, &PuertoSerie::reconectado, this, [this] {
        enlaceserie::puertoRecuperado(*btnPuerto, *btnEnviar, *MSComm1);
        avisos_->retirar(avisoPerdida_);
    });
    // Ports plugged in after start are offered too; the tooltip says what the box names.
    txtPuerto->installEventFilter(this);
    connect(txtPuerto, &QLineEdit::textChanged, this, [this] {
        enlaceserie::cambioPuerto(*txtPuerto, *btnPuerto, *MSComm1);
        if (!txtPuerto->hasFocus())
            enlaceserie::mostrarNombre(*txtPuerto);
    });
    connect(txtPuerto, &QLineEdit::editingFinished, this,
            [this] { enlaceserie::mostrarNombre(*txtPuerto); });
    connect(btnPuerto, &QPushButton::clicked, this, [this] {
        if (!enlaceserie::conectarPuerto(*txtPuerto, *btnPuerto, *btnEnviar, *MSComm1, avisar_)
            && !MSComm1->PortOpen())
            esperaDatos_->puertoCerrado();
    });
    connect(btnEnviar, &QPushButton::clicked, this, [this] {
        // What the box shows unchanged is the controller's own: sending it makes no step.
        if (!lecturas_->setPointEscrito())
            return;
        if (enlaceserie::enviarSetPoint(*txtSetPoint, *adquisicion_, *MSComm1, avisar_, rangoDicho_))
            lecturas_->mostrarSetPoint(variables.setPoint, true);
    });
    // Enter in the box sends, as «Enviar» does (nothing while it is disabled).
    connect(txtSetPoint, &QLineEdit::returnPressed, btnEnviar, &QPushButton::click);
    connect(txtAncho, &QLineEdit::textChanged, this, [this](const QString &texto) {
        if (reiniciarVentana(texto, variables, ventana))
            MSChart1->redibujarPronto();
    });
    connect(chkAutoEscala, &QCheckBox::clicked, this, [this] {
        escalay::clickAutoEscala(*chkAutoEscala, *txtEscala, *txtMajorDivision, *MSChart1);
    });
    connect(txtEscala, &QLineEdit::textChanged, this,
            [this](const QString &texto) { escalay::cambioEscala(texto, *MSChart1); });
    connect(txtMajorDivision, &QLineEdit::textChanged, this,
            [this](const QString &texto) { escalay::cambioMajorDivision(texto, *MSChart1); });
    connect(btnCambiarDestino, &QPushButton::clicked, this, [this] {
        // Made on first use: a file dialog watches its folder from a thread of its own.
        if (!CommonDialog1) {
            CommonDialog1 = new QFileDialog(this);
            CommonDialog1->setObjectName(QStringLiteral("CommonDialog1"));
        }
        const QString elegido = elegirDestino(*CommonDialog1, registro_->destino());
        if (!elegido.isEmpty())
            txtRegistro->setText(QDir::toNativeSeparators(elegido));
    });
    connect(txtRegistro, &QLineEdit::textChanged, this,
            [this](const QString &texto) { registro_->setDestino(texto); });
    connect(chkRegistrar, &QCheckBox::clicked, this, [this] {
        // The destination is changed only while nothing is being written there.
        btnCambiarDestino->setEnabled(chkRegistrar->checkState() == Qt::Unchecked);
        registro_->clickRegistrar(chkRegistrar->checkState());
    });
    registro_->setAlApagarse([this] {
        chkRegistrar->setCheckState(Qt::Unchecked);
        btnCambiarDestino->setEnabled(true);
    });
    connect(btnPrograma, &QPushButton::clicked, this, &Form1::mostrarPrograma);
    connect(ejecutor_.get(), &Ejecutor::aviso, this, [this](const QString &t) { avisar_(t); });
    connect(ejecutor_.get(), &Ejecutor::cambio, this, [this] {
        const Ejecutor &e = *ejecutor_;
        if (e.estado() == Ejecutor::Estado::parado) {
            MSChart1->setEtapa(QString());
            return;
        }
        const Etapa &etapa = e.programa().etapas[e.etapa()];
        MSChart1->setEtapa(
            QStringLiteral("Programa: etapa %1 de %2, %3%4, repetición %5 de %6%7")
                .arg(e.etapa() + 1).arg(e.programa().etapas.size()).arg(programa::nombre(etapa.tipo))
                .arg(etapa.tipo == Etapa::Tipo::mantener ? QString() : QStringLiteral(" %1").arg(etapa.setPoint))
                .arg(e.repeticion() + 1).arg(e.programa().repeticiones)
                .arg(e.estado() == Ejecutor::Estado::enPausa ? QStringLiteral(" (en pausa)") : QString()));
    });
    connect(ejecutor_.get(), &Ejecutor::terminado, this, [this] {
        if (archivoResultados_.isEmpty())
            return;
        QSaveFile f(archivoResultados_);
        if (!f.open(QIODevice::WriteOnly)
            || f.write(resultados::texto(ejecutor_->escalones()).toUtf8()) < 0 || !f.commit())
            avisar_(QStringLiteral("No se pudieron guardar los resultados en «%1»: %2.")
                        .arg(archivoResultados_, f.errorString()));
    });
    connect(MSChart1, &GraficoTendencia::pedirRespuestaEscalon, this,
            &Form1::mostrarRespuestaEscalon);
    connect(MSChart1, &GraficoTendencia::cambiarMilisegundos, this, [this](bool si) {
        setMilisegundos(si);
        QSettings ajustes(QStringLiteral("velmora"), QStringLiteral("velmora"));
        ajustes.setValue(claveMilisegundos, si);
    });
    connect(MSChart1, &GraficoTendencia::pedirAbrirRegistro, this, [this] {
        const QString ruta = QFileDialog::getOpenFileName(
            this, QStringLiteral("Abrir registro"), txtRegistro->text(),
            QStringLiteral("Registros (*.xls);;Todos los archivos (*)"));
        if (!ruta.isEmpty())
            VentanaHistorial::abrir(ruta, this);
    });
}

void Form1::setMilisegundos(bool si)
{
    registro_->setMilisegundos(si);
    MSChart1->setMilisegundos(si);
}

void Form1::mostrarRespuestaEscalon()
{
    if (!ventanaRespuesta) {
        ventanaRespuesta = new VentanaRespuesta(adquisicion_->respuesta(), this);
        ventanaRespuesta->setOrigen(puertoAnterior_);
        ventanaRespuesta->setEjecutor(*ejecutor_);
        // Beside the panel, which it is there to explain, never over its controls.
        ventanaRespuesta->colocarJunto(
            *this, QRect(MSChart1->mapToGlobal(QPoint(0, 0)), MSChart1->size()));
    }
    ventanaRespuesta->show();
    ventanaRespuesta->raise();
    ventanaRespuesta->activateWindow();
}

void Form1::mostrarPrograma()
{
    if (!ventanaPrograma) {
        ventanaPrograma = new VentanaPrograma(*ejecutor_, *MSComm1, this);
        connect(ventanaPrograma, &VentanaPrograma::superponer, this, [this](int etapa) {
            mostrarRespuestaEscalon();
            ventanaRespuesta->superponer(etapa);
        });
        // Beside the panel, never over its controls, as the step window.
        VentanaRespuesta::colocar(*ventanaPrograma, *this,
                                  QRect(MSChart1->mapToGlobal(QPoint(0, 0)), MSChart1->size()));
    }
    ventanaPrograma->show();
    ventanaPrograma->raise();
    ventanaPrograma->activateWindow();
}

void Form1::cargarPrograma(const Programa &p, const QString &archivo, bool iniciar,
                           const QString &resultados)
{
    mostrarPrograma();
    ventanaPrograma->cargar(p, archivo);
    archivoResultados_ = resultados;
    if (iniciar) {
        // The first opening only: a program is not started again by a reconnection.
        // and once the controller has said its set point (or 5 s on), so the first step is
        // measured from where the loop is and a first ramp starts there.
        auto *una = new QObject(this);
        connect(MSComm1, &PuertoSerie::abierto, una, [this, una] {
            delete una;
            auto *espera = new QTimer(this);
            const auto hasta = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            connect(espera, &QTimer::timeout, this, [this, espera, hasta] {
                if (!variables.setPoint && std::chrono::steady_clock::now() < hasta)
                    return;
                espera->deleteLater();
                ventanaPrograma->iniciar();
            });
            espera->start(20);
        });
    }
}

void Form1::cerrarSinPreguntar()
{
    sinPreguntar_ = true;
    close();
}

void Form1::cargar()
{
    variables.puntosX = 512;
    llenarVentana(variables, ventana);
    txtRegistro->setText(Registro::rutaPorDefecto());
    variables.esperaSetPoint = false;
    MSChart1->redibujar();
}

void Form1::descargar()
{
    if (descargado_)
        return;
    descargado_ = true;
    if (variables.registroAbierto)
        registro_->cerrarRegistro();
    enlaceserie::cerrarPuerto(*MSComm1);
}

bool Form1::eventFilter(QObject *objeto, QEvent *evento)
{
    if (objeto == txtPuerto && evento->type() == QEvent::FocusIn)
        enlaceserie::completarPuertos(*txtPuerto);
    if (objeto == txtPuerto && evento->type() == QEvent::ToolTip)
        txtPuerto->setToolTip(enlaceserie::ayudaPuerto(txtPuerto->text(), dispositivos::presentes()));
    return QWidget::eventFilter(objeto, evento);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (ejecutor_->estado() != Ejecutor::Estado::parado && !sinPreguntar_) {
        // Asked without blocking: samples, and the limits, go on while the question is open.
        event->ignore();
        auto *pregunta = new QMessageBox(QMessageBox::Question, QStringLiteral("Velmora"),
                                         QStringLiteral("Hay un programa en marcha. ¿Detenerlo y "
                                                        "cerrar el panel?"),
                                         QMessageBox::Yes | QMessageBox::No, this);
        pregunta->setObjectName(QStringLiteral("preguntaPrograma"));
        pregunta->setDefaultButton(QMessageBox::No);
        pregunta->setAttribute(Qt::WA_DeleteOnClose);
        connect(pregunta, &QMessageBox::finished, this, [this](int r) {
            if (r == QMessageBox::Yes)
                cerrarSinPreguntar();
        });
        pregunta->open();
        return;
    }
    ejecutor_->detener(); // its results are written before the port goes
    descargar();
    event->accept();
}
