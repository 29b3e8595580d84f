#include "ventanahistorial.h"

#include <chrono>

#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "escalon/respuestaescalon.h"
#include "historial/graficohistorial.h"
#include "log/formatofecha.h"
#include "respuesta/ventanarespuesta.h"

VentanaHistorial::VentanaHistorial(const QString &ruta, QWidget *parent)
    : QWidget(parent, Qt::Window), ruta_(ruta), cargador_(new CargadorHistorial(ruta))
{
    setObjectName(QStringLiteral("VentanaHistorial"));
    setWindowTitle(QStringLiteral("Registro: %1").arg(QDir::toNativeSeparators(ruta)));
    resize(1000, 560);
    grafico_ = new GraficoHistorial(datos_, this);
    progreso_ = new QProgressBar;
    progreso_->setFormat(QStringLiteral("Leyendo… %p %"));
    lectura_ = new QLabel(QStringLiteral(" "));
    lectura_->setObjectName(QStringLiteral("lblLectura"));
    aviso_ = new QLabel;
    aviso_->setObjectName(QStringLiteral("lblAviso"));
    aviso_->setWordWrap(true);
    aviso_->hide();
    avisoEscalon_ = new QLabel;
    avisoEscalon_->setWordWrap(true);
    avisoEscalon_->hide();
    btnTodo_ = new QPushButton(QStringLiteral("Ver todo"));
    btnEscalon_ = new QPushButton(QStringLiteral("Respuesta al escalón a la vista"));
    auto *botones = new QHBoxLayout;
    botones->addWidget(lectura_, 1);
    botones->addWidget(btnTodo_);
    botones->addWidget(btnEscalon_);
    auto *capas = new QVBoxLayout(this);
    capas->addWidget(grafico_, 1);
    capas->addWidget(progreso_);
    capas->addLayout(botones);
    capas->addWidget(avisoEscalon_);
    capas->addWidget(aviso_);
    grafico_->setToolTip(QStringLiteral(
        "Rueda: acercar o alejar · arrastrar: mover · Mayús+arrastrar o botón derecho: "
        "acercar a un recuadro"));

    connect(btnTodo_, &QPushButton::clicked, grafico_, &GraficoHistorial::verTodo);
    connect(btnEscalon_, &QPushButton::clicked, this, [this] {
        const QString motivo = medirEscalonEnVista();
        avisoEscalon_->setText(motivo);
        avisoEscalon_->setVisible(!motivo.isEmpty());
    });
    connect(grafico_, &GraficoHistorial::cursor, this, [this](std::optional<size_t> i) {
        lectura_->setText(i ? lectura(*i) : QStringLiteral(" "));
    });

    cargador_->moveToThread(&hilo_);
    connect(&hilo_, &QThread::finished, cargador_, &QObject::deleteLater);
    connect(&hilo_, &QThread::started, cargador_, &CargadorHistorial::empezar);
    connect(cargador_, &CargadorHistorial::lote, this, &VentanaHistorial::recibir);
    connect(cargador_, &CargadorHistorial::leido, this, [this] {
        leido_ = true;
        progreso_->hide();
        grafico_->verTodo();
        decir();
        emit cargado();
    });
    connect(cargador_, &CargadorHistorial::reiniciado, this, [this](const QString &motivo) {
        datos_.vaciar();
        malas_ = primeraMala_ = 0;
        leido_ = false;
        motivo_ = QStringLiteral("El archivo %1 mientras estaba abierto: se lee de nuevo desde el "
                                 "principio.").arg(motivo);
        progreso_->show();
        grafico_->verTodo();
        decir();
    });
    connect(cargador_, &CargadorHistorial::fallo, this, [this](const QString &motivo) {
        motivo_ = QStringLiteral("No se pudo abrir %1: %2.")
                      .arg(QDir::toNativeSeparators(ruta_), motivo);
        progreso_->hide();
        decir();
    });
    hilo_.start();
}

VentanaHistorial::~VentanaHistorial()
{
    delete ventanaRespuesta_;
    cargador_->parar();
    hilo_.quit();
    hilo_.wait();
}

VentanaHistorial *VentanaHistorial::abrir(const QString &ruta, QWidget *parent)
{
    auto *v = new VentanaHistorial(ruta, parent);
    v->setAttribute(Qt::WA_DeleteOnClose);
    v->show();
    return v;
}

void VentanaHistorial::recibir(const std::shared_ptr<const CargadorHistorial::Lote> &lote)
{
    for (const LectorLineas::Muestra &m : lote->muestras)
        datos_.agregar(m);
    if (lote->lineasMalas > 0) {
        malas_ += lote->lineasMalas;
        if (lote->primeraMala > 0) {
            primeraMala_ = lote->primeraMala;
            textoPrimeraMala_ = lote->textoPrimeraMala;
        }
        decir();
    }
    if (!leido_) {
        progreso_->setMaximum(1000);
        progreso_->setValue(lote->total > 0 ? int(1000 * lote->leidos / lote->total) : 1000);
        return;
    }
    // What the panel adds while the window is open: on show at once where the whole is.
    if (grafico_->mostrandoTodo())
        grafico_->verTodo();
    else
        grafico_->actualizar();
    decir();
}

QString VentanaHistorial::aviso() const
{
    return aviso_->text();
}

void VentanaHistorial::decir()
{
    QStringList partes;
    if (!motivo_.isEmpty())
        partes << motivo_;
    if (malas_ == 1)
        partes << QStringLiteral("1 línea no es de un registro y no se muestra: la %L1, «%2».")
                      .arg(primeraMala_)
                      .arg(textoPrimeraMala_);
    else if (malas_ > 1)
        partes << QStringLiteral("%L1 líneas no son de un registro y no se muestran; la primera "
                                 "es la %L2: «%3».")
                      .arg(malas_)
                      .arg(primeraMala_)
                      .arg(textoPrimeraMala_);
    else if (leido_ && datos_.cuantos() == 0)
        partes << QStringLiteral("El archivo está vacío: se mostrará lo que se escriba en él.");
    aviso_->setText(partes.join(u' '));
    aviso_->setVisible(!partes.isEmpty());
}

QString VentanaHistorial::lectura(size_t i) const
{
    static FormatoFecha formato;
    const uint8_t sp = datos_.setPoint(i);
    return QStringLiteral("%1    Valor: %2    Set Point: %3")
        .arg(formato.texto(QDateTime::fromMSecsSinceEpoch(datos_.ms(i)), datos_.conMs(i)))
        .arg(datos_.valor(i))
        .arg(sp == LectorLineas::sinSetPoint ? QStringLiteral("—") : QString::number(sp));
}

QString VentanaHistorial::medirEscalonEnVista()
{
    const QCPRange rango = grafico_->xAxis->range();
    const size_t n = datos_.cuantos();
    const size_t a = std::max<size_t>(1, datos_.desde(int64_t(std::floor(rango.lower * 1000))));
    const size_t b = datos_.desde(int64_t(std::ceil(rango.upper * 1000)) + 1);
    const auto conocido = [this](size_t i) {
        return datos_.setPoint(i) != LectorLineas::sinSetPoint;
    };
    size_t paso = b;
    for (size_t i = a; i < b && paso == b; ++i)
        if (conocido(i) && conocido(i - 1) && datos_.setPoint(i) != datos_.setPoint(i - 1))
            paso = i;
    if (paso >= b || paso >= n)
        return QStringLiteral("No hay ningún cambio del set point a la vista.");
    // The samples before it with the set point it left (its noise and starting value), then
    // the response until the set point changes again.
    size_t desde = paso;
    while (desde > 0 && paso - desde < size_t(RespuestaEscalon::muestrasAntes)
           && datos_.setPoint(desde - 1) == datos_.setPoint(paso - 1))
        --desde;
    size_t hasta = paso;
    while (hasta < n && datos_.setPoint(hasta) == datos_.setPoint(paso))
        ++hasta;
    for (size_t i = desde; i < hasta; ++i)
        if (!datos_.conMs(i))
            return QStringLiteral(
                "Las cifras de la respuesta necesitan un registro con milisegundos: este tiene "
                "la hora en segundos enteros. Marque «Registro con milisegundos» en el menú del "
                "gráfico del panel (o use velmora --milisegundos) y registre el escalón de nuevo.");
    delete ventanaRespuesta_;
    ventanaRespuesta_ = nullptr;
    respuesta_ = std::make_unique<RespuestaEscalon>();
    // The window turns the steady clock into the time of day with this same offset.
    using namespace std::chrono;
    const auto desfase = system_clock::now().time_since_epoch()
                         - duration_cast<system_clock::duration>(
                             steady_clock::now().time_since_epoch());
    for (size_t i = desde; i < hasta; ++i) {
        // The middle of the logged millisecond, where the sample's time most likely lay.
        const auto pared = system_clock::duration(microseconds(datos_.ms(i) * 1000 + 500));
        respuesta_->agregar(Reloj::Instante(duration_cast<steady_clock::duration>(pared - desfase)),
                            datos_.valor(i), datos_.setPoint(i));
    }
    ventanaRespuesta_ = new VentanaRespuesta(*respuesta_, this);
    ventanaRespuesta_->show();
    ventanaRespuesta_->actualizar();
    return {};
}
