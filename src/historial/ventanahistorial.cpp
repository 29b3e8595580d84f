#include "ventanahistorial.h"

#include <chrono>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "chart/cursores.h"
#include "escalon/respuestaescalon.h"
#include "historial/graficohistorial.h"
#include "log/formatofecha.h"
#include "respuesta/ventanarespuesta.h"

namespace {

// Bloques read ahead of a step's feeding.
constexpr size_t adelanto = 64;

QString duracion(double s)
{
    const QLocale l;
    if (s < 60)
        return QStringLiteral("%1 s").arg(l.toString(s, 'f', 3));
    const qint64 t = qint64(std::llround(s));
    if (t < 3600)
        return QStringLiteral("%1 min %2 s").arg(t / 60).arg(t % 60);
    return QStringLiteral("%1 h %2 min").arg(t / 3600).arg(t / 60 % 60);
}

} // namespace

VentanaHistorial::VentanaHistorial(const QString &ruta, QWidget *parent)
    : QWidget(parent, Qt::Window), ruta_(ruta), cargador_(std::make_shared<CargadorHistorial>(ruta))
{
    setObjectName(QStringLiteral("VentanaHistorial"));
    setWindowTitle(QStringLiteral("Registro: %1").arg(QDir::toNativeSeparators(ruta)));
    setWindowIcon(QIcon(QStringLiteral(":/velmora.png")));
    resize(1000, 600);
    grafico_ = new GraficoHistorial(datos_, this);
    progreso_ = new QProgressBar;
    progreso_->setFormat(QStringLiteral("Leyendo… %p %"));
    progreso_->setMaximum(0);
    lectura_ = new QLabel(QStringLiteral(" "));
    lectura_->setObjectName(QStringLiteral("lblLectura"));
    lectura_->setWordWrap(true);
    aviso_ = new QLabel;
    aviso_->setObjectName(QStringLiteral("lblAviso"));
    aviso_->setWordWrap(true);
    aviso_->hide();
    avisoEscalon_ = new QLabel;
    avisoEscalon_->setWordWrap(true);
    avisoEscalon_->hide();
    figuras_ = new QLabel;
    figuras_->setObjectName(QStringLiteral("lblCursores"));
    figuras_->setWordWrap(true);
    figuras_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figuras_->hide();
    btnTodo_ = new QPushButton(QStringLiteral("Ver todo"));
    btnEscalon_ = new QPushButton(QStringLiteral("Respuesta al escalón a la vista"));
    chkCursores_ = new QCheckBox(QStringLiteral("Cursores A y B"));
    chkCursores_->setToolTip(QStringLiteral(
        "Arrastre A o B; las flechas mueven el último tocado una muestra"));
    btnCopiar_ = new QPushButton(QStringLiteral("Copiar"));
    btnCopiar_->setToolTip(QStringLiteral("Copia las cifras entre los cursores como texto"));
    btnCopiar_->setEnabled(false);
    auto *botones = new QHBoxLayout;
    botones->addWidget(lectura_, 1);
    botones->addWidget(chkCursores_);
    botones->addWidget(btnCopiar_);
    botones->addWidget(btnTodo_);
    botones->addWidget(btnEscalon_);
    auto *capas = new QVBoxLayout(this);
    capas->addWidget(grafico_, 1);
    capas->addWidget(progreso_);
    capas->addLayout(botones);
    capas->addWidget(figuras_);
    capas->addWidget(avisoEscalon_);
    capas->addWidget(aviso_);
    grafico_->setToolTip(QStringLiteral(
        "Rueda: acercar o alejar · arrastrar: mover · Mayús+arrastrar o botón derecho: "
        "acercar a un recuadro"));

    redibujo_.setSingleShot(true);
    redibujo_.setInterval(15);
    connect(&redibujo_, &QTimer::timeout, this, [this] {
        grafico_->actualizar();
        if (bajoRaton_)
            lectura_->setText(lectura(*bajoRaton_));
        alCambiarCursores();
    });
    connect(btnTodo_, &QPushButton::clicked, grafico_, &GraficoHistorial::verTodo);
    connect(btnEscalon_, &QPushButton::clicked, this, [this] {
        const QString motivo = medirEscalonEnVista();
        avisoEscalon_->setText(motivo);
        avisoEscalon_->setVisible(!motivo.isEmpty());
    });
    connect(chkCursores_, &QCheckBox::toggled, this, [this](bool si) {
        grafico_->cursores().setVisible(si);
        grafico_->replot();
        grafico_->setFocus();
    });
    connect(btnCopiar_, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(textoCursores()); });
    connect(&grafico_->cursores(), &Cursores::cambiado, this, &VentanaHistorial::alCambiarCursores);
    connect(grafico_, &GraficoHistorial::pedirBloques, this, &VentanaHistorial::pedir);
    connect(grafico_, &GraficoHistorial::cursor, this, [this](std::optional<uint64_t> i) {
        bajoRaton_ = i;
        lectura_->setText(i ? lectura(*i) : QStringLiteral(" "));
    });

    CargadorHistorial *c = cargador_.get();
    connect(c, &CargadorHistorial::lote, this, &VentanaHistorial::recibir);
    connect(c, &CargadorHistorial::crudas, this, &VentanaHistorial::recibirCrudas);
    connect(c, &CargadorHistorial::leido, this, [this] {
        leido_ = true;
        progreso_->hide();
        grafico_->verTodo();
        decir();
        emit cargado();
    });
    connect(c, &CargadorHistorial::reiniciado, this, [this](const QString &motivo) {
        leido_ = false;
        motivo_ = QStringLiteral("El archivo %1 mientras estaba abierto: se lee de nuevo desde el "
                                 "principio.").arg(motivo);
        progreso_->show();
        decir();
    });
    connect(c, &CargadorHistorial::fallo, this, [this](const QString &motivo) {
        motivo_ = QStringLiteral("No se pudo abrir %1: %2.")
                      .arg(QDir::toNativeSeparators(ruta_), motivo);
        progreso_->hide();
        decir();
    });
    connect(c, &CargadorHistorial::nota, this, [this](const QString &texto) {
        nota_ = texto;
        decir();
    });
    CargadorHistorial::arrancar(cargador_);
}

VentanaHistorial::~VentanaHistorial()
{
    // The reading may be blocked in a FIFO or a stalled share: it ends on its own.
    disconnect(cargador_.get(), nullptr, this, nullptr);
    cargador_->parar();
    delete ventanaRespuesta_;
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
    if (lote->generacion != generacion_) {
        // Read again (from the start, or a stretch with another date format).
        generacion_ = lote->generacion;
        pedidos_.clear();
        if (lote->desde == 0)
            datos_.vaciar();
        else
            datos_.recortar(lote->desde);
        bajoRaton_.reset();
        if (lote->desde == 0) {
            grafico_->verTodo();
            medicion_ = Medicion();
        }
    }
    for (const DatosHistorial::Bloque &b : lote->bloques)
        datos_.agregar(b);
    if (lote->lineasMalas != malas_) {
        malas_ = lote->lineasMalas;
        primeraMala_ = lote->primeraMala;
        textoPrimeraMala_ = lote->textoPrimeraMala;
        decir();
    }
    if (!leido_) {
        progreso_->setMaximum(lote->total > 0 ? 1000 : 0);
        if (lote->total > 0)
            progreso_->setValue(int(1000 * lote->leidos / lote->total));
        return;
    }
    // What the panel adds while the window is open: on show at once where the whole is.
    if (!lote->bloques.empty()) {
        if (grafico_->mostrandoTodo())
            grafico_->verTodo();
        else
            grafico_->actualizar();
        if (medicion_.alimentando)
            alimentar();
    }
    decir();
}

void VentanaHistorial::pedir(const std::vector<size_t> &bloques)
{
    std::vector<std::pair<size_t, DatosHistorial::Bloque>> nuevos;
    for (size_t b : bloques)
        if (b < datos_.bloques() && !datos_.crudas(b) && pedidos_.insert(b).second)
            nuevos.push_back({b, datos_.bloque(b)});
    if (!nuevos.empty())
        cargador_->pedir(nuevos, generacion_);
}

bool VentanaHistorial::leerBloque(size_t b)
{
    if (datos_.crudas(b))
        return true;
    pedir({b});
    return false;
}

void VentanaHistorial::recibirCrudas(const std::shared_ptr<const CargadorHistorial::Crudas> &c)
{
    if (c->generacion != generacion_)
        return;
    pedidos_.erase(c->bloque);
    datos_.guardarCrudas(c->bloque, c->muestras);
    if (medicion_.buscando)
        intentarMedir();
    if (medicion_.alimentando)
        alimentar();
    if (!redibujo_.isActive())
        redibujo_.start();
}

QString VentanaHistorial::aviso() const
{
    return aviso_->text();
}

QString VentanaHistorial::avisoEscalon() const
{
    return avisoEscalon_->text();
}

void VentanaHistorial::decir()
{
    QStringList partes;
    if (!motivo_.isEmpty())
        partes << motivo_;
    if (!nota_.isEmpty())
        partes << nota_;
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

QString VentanaHistorial::hora(uint64_t i) const
{
    static FormatoFecha formato;
    const DatosHistorial::Cruda *m = datos_.muestra(i);
    return m ? formato.texto(QDateTime::fromMSecsSinceEpoch(m->ms), m->conMs) : QStringLiteral("…");
}

QString VentanaHistorial::lectura(uint64_t i) const
{
    const DatosHistorial::Cruda *m = datos_.muestra(i);
    if (!m)
        return QStringLiteral("…");
    static FormatoFecha formato;
    const auto &sesiones = datos_.sesiones();
    const size_t k = datos_.sesionDe(datos_.bloqueDe(i));
    const DatosHistorial::Sesion &s = sesiones[k];
    const bool ms = datos_.bloque(s.bloque0).conMs;
    return QStringLiteral("%1    Valor: %2    Set Point: %3    Sesión %4 de %5: %6 – %7, %L8 muestras")
        .arg(hora(i))
        .arg(m->valor)
        .arg(m->setPoint == DatosHistorial::sinSetPoint ? QStringLiteral("—")
                                                        : QString::number(m->setPoint))
        .arg(k + 1)
        .arg(sesiones.size())
        .arg(formato.texto(QDateTime::fromMSecsSinceEpoch(s.t0), ms),
             formato.texto(QDateTime::fromMSecsSinceEpoch(s.t1), ms))
        .arg(s.n);
}

std::optional<FigurasCursores> VentanaHistorial::figurasCursores()
{
    Cursores &c = grafico_->cursores();
    const auto a = c.indice(0), b = c.indice(1);
    if (!c.visible() || !a || !b)
        return std::nullopt;
    FigurasCursores f;
    if (std::vector<size_t> faltan; !datos_.figurasCursores(*a, *b, f, faltan)) {
        faltan.push_back(datos_.bloqueDe(*a));
        faltan.push_back(datos_.bloqueDe(*b));
        pedir(faltan);
        return std::nullopt;
    }
    return f;
}

QString VentanaHistorial::textoCursores()
{
    const auto f = figurasCursores();
    if (!f)
        return {};
    const auto a = grafico_->cursores().indice(0), b = grafico_->cursores().indice(1);
    return f->texto(hora(*a), hora(*b));
}

void VentanaHistorial::alCambiarCursores()
{
    const bool visibles = grafico_->cursores().visible();
    figuras_->setVisible(visibles);
    const auto f = figurasCursores();
    btnCopiar_->setEnabled(f.has_value());
    if (!visibles)
        return;
    if (!f) {
        figuras_->setText(QStringLiteral("A y B: leyendo sus muestras…"));
        return;
    }
    const QLocale l;
    const auto a = grafico_->cursores().indice(0), b = grafico_->cursores().indice(1);
    const auto real = [&l](std::optional<double> v, int d) {
        return v ? l.toString(*v, 'f', d) : QStringLiteral("—");
    };
    QString texto = QStringLiteral("A: %1, %2    B: %3, %4    Δt %5 s    Δ valor %6    "
                                   "mín. %7  máx. %8  media %9  σ %10    set point medio %11    "
                                   "%L12 muestras, cada %13 s")
                        .arg(hora(*a)).arg(f->valorA).arg(hora(*b)).arg(f->valorB)
                        .arg(l.toString(f->tB - f->tA, 'f', 3))
                        .arg(f->valorB - f->valorA)
                        .arg(f->minimo).arg(f->maximo)
                        .arg(real(f->media(), 3), real(f->desviacion(), 3),
                             real(f->mediaSetPoint(), 2))
                        .arg(f->n)
                        .arg(real(f->espaciado(), 6));
    if (f->pausas > 0)
        texto += QStringLiteral("    entre ellos %1 %2 de %3")
                     .arg(f->pausas)
                     .arg(f->pausas == 1 ? QStringLiteral("pausa") : QStringLiteral("pausas"))
                     .arg(duracion(f->segundosPausas));
    figuras_->setText(texto);
}

QString VentanaHistorial::medirEscalonEnVista()
{
    const QCPRange rango = grafico_->xAxis->range();
    medicion_ = Medicion();
    medicion_.buscando = true;
    medicion_.buscarDesde = int64_t(std::floor(rango.lower * 1000));
    medicion_.buscarHasta = int64_t(std::ceil(rango.upper * 1000)) + 1;
    avisoEscalon_->clear();
    intentarMedir();
    return medicion_.buscando ? QString() : avisoEscalon_->text();
}

void VentanaHistorial::terminarMedicion(const QString &motivo)
{
    medicion_.buscando = medicion_.alimentando = false;
    avisoEscalon_->setText(motivo);
    avisoEscalon_->setVisible(!motivo.isEmpty());
}

void VentanaHistorial::intentarMedir()
{
    // The first sample on show whose set point differs from the sample before it in the
    // same session: a set point that differs across a pause is no step.
    const size_t n = datos_.bloques();
    const auto &sesiones = datos_.sesiones();
    size_t b = datos_.bloqueEn(medicion_.buscarDesde);
    uint64_t paso = UINT64_MAX;
    for (; b < n && datos_.bloque(b).t0 < medicion_.buscarHasta && paso == UINT64_MAX; ++b) {
        const DatosHistorial::Bloque &k = datos_.bloque(b);
        const bool conAnterior = b > 0 && !k.sesion;
        const uint8_t antes = conAnterior ? datos_.bloque(b - 1).spUltimo : DatosHistorial::sinSetPoint;
        const bool cambia = (k.conSetPoint > 0 && k.spMinimo != k.spMaximo)
                            || (k.spPrimero != DatosHistorial::sinSetPoint
                                && antes != DatosHistorial::sinSetPoint && antes != k.spPrimero)
                            || (k.conSetPoint > 0 && k.conSetPoint < k.n);
        if (!cambia)
            continue;
        const auto *c = datos_.crudas(b);
        const auto *previas = conAnterior ? datos_.crudas(b - 1) : nullptr;
        if (!c || (conAnterior && !previas)) {
            std::vector<size_t> faltan{b};
            if (conAnterior)
                faltan.push_back(b - 1);
            pedir(faltan);
            return; // again when they come
        }
        for (size_t j = 0; j < c->size(); ++j) {
            const DatosHistorial::Cruda &m = (*c)[j];
            const DatosHistorial::Cruda *p = j > 0 ? &(*c)[j - 1] : previas ? &previas->back() : nullptr;
            if (m.ms < medicion_.buscarDesde || m.ms >= medicion_.buscarHasta || !p)
                continue;
            if (m.setPoint != DatosHistorial::sinSetPoint && p->setPoint != DatosHistorial::sinSetPoint
                && m.setPoint != p->setPoint) {
                paso = k.primero + j;
                break;
            }
        }
    }
    if (paso == UINT64_MAX) {
        terminarMedicion(QStringLiteral("No hay ningún cambio del set point a la vista."));
        return;
    }
    const size_t bloquePaso = datos_.bloqueDe(paso);
    const size_t sesion = datos_.sesionDe(bloquePaso);
    if (!datos_.bloque(bloquePaso).conMs) {
        terminarMedicion(QStringLiteral(
            "Las cifras de la respuesta necesitan un registro con milisegundos: este tiene "
            "la hora en segundos enteros. Marque «Registro con milisegundos» en el menú del "
            "gráfico del panel (o use velmora --milisegundos) y registre el escalón de nuevo."));
        return;
    }
    // The samples before it with the set point it left, in its session: its noise and
    // starting value.
    const uint64_t inicioSesion = sesiones[sesion].primero;
    uint64_t desde = paso;
    const uint8_t dejado = datos_.muestra(paso - 1)->setPoint;
    while (desde > inicioSesion && paso - desde < uint64_t(RespuestaEscalon::muestrasAntes)) {
        const DatosHistorial::Cruda *m = datos_.muestra(desde - 1);
        if (!m) {
            pedir({datos_.bloqueDe(desde - 1)});
            return;
        }
        if (m->setPoint != dejado)
            break;
        --desde;
    }
    medicion_.buscando = false;
    medicion_.alimentando = true;
    medicion_.paso = paso;
    medicion_.siguiente = desde;
    medicion_.sesion = sesion;
    medicion_.setPoint = datos_.muestra(paso)->setPoint;
    delete ventanaRespuesta_;
    ventanaRespuesta_ = nullptr;
    respuesta_ = std::make_unique<RespuestaEscalon>();
    const QString origen = QFileInfo(ruta_).fileName();
    respuesta_->setOrigen(origen);
    ventanaRespuesta_ = new VentanaRespuesta(*respuesta_, this);
    ventanaRespuesta_->setOrigen(origen);
    ventanaRespuesta_->colocarJunto(
        *this, QRect(grafico_->mapToGlobal(QPoint(0, 0)), grafico_->size()));
    ventanaRespuesta_->show();
    avisoEscalon_->hide();
    alimentar();
}

void VentanaHistorial::alimentar()
{
    // The window turns the steady clock into the time of day with this same offset.
    using namespace std::chrono;
    const auto desfase = system_clock::now().time_since_epoch()
                         - duration_cast<system_clock::duration>(
                             steady_clock::now().time_since_epoch());
    const auto &sesiones = datos_.sesiones();
    const uint64_t finSesion = sesiones[medicion_.sesion].primero + sesiones[medicion_.sesion].n;
    bool alguna = false;
    while (medicion_.alimentando && medicion_.siguiente < datos_.cuantos()) {
        const uint64_t i = medicion_.siguiente;
        if (i >= finSesion) {
            // The session ended during the step: what follows the pause is not its response.
            respuesta_->olvidarSetPoint();
            medicion_.alimentando = false;
            break;
        }
        const DatosHistorial::Cruda *m = datos_.muestra(i);
        if (!m) {
            const size_t b = datos_.bloqueDe(i);
            std::vector<size_t> leer;
            for (size_t k = b; k < std::min(datos_.bloques(), b + adelanto); ++k)
                leer.push_back(k);
            pedir(leer);
            break;
        }
        if (i > medicion_.paso && m->setPoint != medicion_.setPoint) {
            // Up to the next change, which ends it, as the live table has it.
            respuesta_->terminar();
            medicion_.alimentando = false;
            break;
        }
        // The middle of the logged millisecond, where the sample's time most likely lay.
        const auto pared = system_clock::duration(microseconds(m->ms * 1000 + 500));
        respuesta_->agregar(Reloj::Instante(duration_cast<steady_clock::duration>(pared - desfase)),
                            m->valor,
                            m->setPoint == DatosHistorial::sinSetPoint
                                ? std::nullopt : std::optional<int16_t>(m->setPoint));
        ++medicion_.siguiente;
        alguna = true;
    }
    if (alguna && ventanaRespuesta_)
        ventanaRespuesta_->actualizar();
}
