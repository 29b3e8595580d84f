#include "form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "chart/escalay.h"
#include "chart/graficotendencia.h"
#include "core/adquisicion.h"
#include "log/registro.h"
#include "serial/enlaceserie.h"
#include "serial/puertoserie.h"
#include "ui/avisos.h"

namespace {

// The layout is given in twips; 15 make a pixel at 96 dots per inch.
void colocar(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(left / 15, top / 15, width / 15, height / 15);
}

template <typename W>
W *crear(QWidget *padre, const char *nombre)
{
    auto *w = new W(padre);
    w->setObjectName(QLatin1String(nombre));
    return w;
}

QLabel *etiqueta(QWidget *padre, const char *nombre, const QString &texto)
{
    auto *l = crear<QLabel>(padre, nombre);
    l->setText(texto);
    return l;
}

QLineEdit *caja(QWidget *padre, const char *nombre, const QString &texto)
{
    auto *t = crear<QLineEdit>(padre, nombre);
    t->setText(texto);
    return t;
}

QPushButton *boton(QWidget *padre, const char *nombre, const QString &texto)
{
    auto *b = crear<QPushButton>(padre, nombre);
    b->setText(texto);
    return b;
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

    const auto avisar = [this](const QString &texto) { avisos_->avisar(texto); };
    registro_ = std::make_unique<Registro>(variables, *txtRegistro, *chkRegistrar,
                                           *btnCambiarDestino, avisar);
    adquisicion_ = std::make_unique<Adquisicion>(variables, *txtTiempo, *txtDato,
                                                 *chkRegistrar, ventana, *MSChart1, *registro_);
    conectarEventos();
    cargar();
}

Form1::~Form1()
{
    descargar();
}

void Form1::crearElementos()
{
    lblPuerto = etiqueta(this, "lblPuerto", QStringLiteral("Puerto Serial"));
    colocar(lblPuerto, 120, 120, 975, 255);
    txtPuerto = caja(this, "txtPuerto", QStringLiteral("1"));
    colocar(txtPuerto, 1080, 120, 375, 285);
    btnPuerto = boton(this, "btnPuerto", QStringLiteral("Conectar"));
    colocar(btnPuerto, 1560, 120, 975, 375);

    // The set-point row exists but is hidden for good.
    lblSetPoint = etiqueta(this, "lblSetPoint", QStringLiteral("Set Point"));
    colocar(lblSetPoint, 120, 600, 975, 255);
    txtSetPoint = caja(this, "txtSetPoint", QStringLiteral("0"));
    colocar(txtSetPoint, 840, 600, 615, 285);
    btnEnviar = boton(this, "btnEnviar", QStringLiteral("Enviar"));
    colocar(btnEnviar, 1560, 600, 975, 375);
    btnEnviar->setEnabled(false);
    for (QWidget *w : {static_cast<QWidget *>(lblSetPoint), static_cast<QWidget *>(txtSetPoint),
                       static_cast<QWidget *>(btnEnviar)})
        w->setVisible(false);

    lblDato = etiqueta(this, "lblDato", QStringLiteral("Último dato recibido"));
    colocar(lblDato, 2760, 600, 1575, 255);
    txtDato = caja(this, "txtDato", QString());
    colocar(txtDato, 4200, 600, 735, 285);
    txtDato->setReadOnly(true);
    txtTiempo = caja(this, "txtTiempo", QString());
    colocar(txtTiempo, 4920, 600, 735, 285);
    txtTiempo->setReadOnly(true);
    // They change with every frame; as opaque boxes (corners filled like the window) their
    // repaint leaves the label they overlap and the window behind them alone.
    for (QLineEdit *lectura : {txtDato, txtTiempo}) {
        lectura->setBackgroundRole(QPalette::Window);
        lectura->setAutoFillBackground(true);
    }

    chkAutoEscala = crear<QCheckBox>(this, "chkAutoEscala");
    chkAutoEscala->setText(QStringLiteral("Auto escala"));
    chkAutoEscala->setLayoutDirection(Qt::RightToLeft); // the box after its caption
    colocar(chkAutoEscala, 12120, 120, 1335, 255);
    lblEscala = etiqueta(this, "lblEscala", QStringLiteral("Valor máximo de Y"));
    colocar(lblEscala, 11280, 480, 1530, 195);
    txtEscala = caja(this, "txtEscala", QStringLiteral("50"));
    colocar(txtEscala, 12960, 480, 495, 285);
    lblMajorDivision = etiqueta(this, "lblMajorDivision", QStringLiteral("Cuántas divisiones en Y"));
    colocar(lblMajorDivision, 11040, 840, 1770, 195);
    txtMajorDivision = caja(this, "txtMajorDivision", QStringLiteral("25"));
    colocar(txtMajorDivision, 12960, 840, 495, 285);
    lblAncho = etiqueta(this, "lblAncho", QStringLiteral("Cuántos valores en X"));
    colocar(lblAncho, 11160, 1200, 1650, 195);
    txtAncho = caja(this, "txtAncho", QStringLiteral("512"));
    colocar(txtAncho, 12960, 1200, 495, 285);
    for (QLabel *l : {lblEscala, lblMajorDivision, lblAncho})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    MSChart1 = new GraficoTendencia(ventana, this);
    colocar(MSChart1, 240, 1560, 13455, 5895);

    Frame1 = crear<QGroupBox>(this, "Frame1");
    Frame1->setTitle(QStringLiteral("Registro de datos"));
    colocar(Frame1, 120, 7560, 13575, 735);
    chkRegistrar = crear<QCheckBox>(Frame1, "chkRegistrar");
    colocar(chkRegistrar, 240, 270, 255, 255);
    txtRegistro = caja(Frame1, "txtRegistro", QString());
    colocar(txtRegistro, 600, 240, 10335, 285);
    btnCambiarDestino = boton(Frame1, "btnCambiarDestino", QStringLiteral("Cambiar destino..."));
    colocar(btnCambiarDestino, 11040, 270, 2295, 255);

    MSComm1 = new PuertoSerie(this);
    CommonDialog1 = new QFileDialog(this);
    CommonDialog1->setObjectName(QStringLiteral("CommonDialog1"));

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
    const auto avisar = [this](const QString &texto) { avisos_->avisar(texto); };

    MSComm1->setReceptor([this](int16_t codigo, QByteArrayView entrada) {
        adquisicion_->procesarEntrada(codigo, entrada);
    });
    connect(MSComm1, &PuertoSerie::perdido, this, [this, avisar](const QString &motivo) {
        enlaceserie::puertoPerdido(motivo, *btnPuerto, *btnEnviar, *MSComm1, avisar);
    });
    connect(btnPuerto, &QPushButton::clicked, this, [this, avisar] {
        enlaceserie::conectarPuerto(*txtPuerto, *btnPuerto, *btnEnviar, *MSComm1, avisar);
    });
    connect(btnEnviar, &QPushButton::clicked, this, [this, avisar] {
        enlaceserie::enviarSetPoint(*txtSetPoint, variables, *MSComm1, avisar);
    });
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
    connect(btnCambiarDestino, &QPushButton::clicked, this,
            [this] { registro_->cambiarDestino(*CommonDialog1); });
    connect(chkRegistrar, &QCheckBox::clicked, this, [this] { registro_->clickRegistrar(); });
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

void Form1::closeEvent(QCloseEvent *event)
{
    descargar();
    event->accept();
}
