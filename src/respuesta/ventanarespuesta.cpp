#include "ventanarespuesta.h"

#include <array>
#include <cmath>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "recepcion/adquisicion.h"
#include "escalon/respuestaescalon.h"

namespace {

using Figuras = RespuestaEscalon::Figuras;
using Nota = RespuestaEscalon::Nota;
using Hora = std::chrono::system_clock::duration;
using Texto = std::optional<QString>;

const QString nada = QStringLiteral("—");

// The plot's graphs, in the order they are added.
enum Grafico { gValor, gSetPoint, gNivel10, gNivel90, gFinal, gBandaArriba, gBandaAbajo, gPico, gModelo };

Texto real(const std::optional<double> &v, int d, bool signo = false)
{
    if (!v)
        return std::nullopt;
    // Rounded first, so what rounds to nothing shows as 0, never "-0.0".
    const double escala = std::pow(10.0, d);
    const double x = std::round(*v * escala) / escala + 0.0;
    const QString s = QLocale().toString(x, 'f', d);
    return signo && x > 0 ? u'+' + s : s;
}

QString cuentas(double v)
{
    const QString s = QLocale().toString(v, 'g', v < 10 ? 2 : 3);
    return s + (s == QStringLiteral("1") ? QStringLiteral(" cuenta") : QStringLiteral(" cuentas"));
}

QString nota(const Figuras &f)
{
    QStringList partes;
    switch (f.nota) {
    case Nota::ninguna: break;
    case Nota::pequeno: partes << QStringLiteral("demasiado pequeño para medirlo"); break;
    case Nota::sinRespuesta: partes << QStringLiteral("sin respuesta"); break;
    case Nota::corta: partes << QStringLiteral("respuesta aún corta para saber dónde acaba"); break;
    case Nota::saturada:
        partes << QStringLiteral("lectura recortada en %1: sin valor final").arg(f.limite.value_or(0));
        break;
    case Nota::rampa: partes << QStringLiteral("rampa: no se establece"); break;
    case Nota::sinAmortiguar:
        partes << (f.periodo ? QStringLiteral("oscila sin amortiguarse (periodo %1 s)").arg(*real(f.periodo, 3))
                             : QStringLiteral("oscila sin amortiguarse"));
        break;
    case Nota::noSeAjusta:
        partes << QStringLiteral("el modelo no se ajusta (residuo %1, ruido %2 %3)")
                      .arg(cuentas(f.residuo.value_or(0)), cuentas(f.ruido),
                           f.ruidoEnReposo ? QStringLiteral("en reposo") : QStringLiteral("del residuo"));
        break;
    }
    if (f.nota == Nota::ninguna && f.modelo && f.finalProvisional)
        partes << QStringLiteral("provisional: aún no se ha establecido");
    if (f.cortado)
        partes << QStringLiteral("cortado antes de establecerse");
    return partes.join(QStringLiteral("; "));
}

// Each figure: its caption (in the figures and as the table's heading, with its unit), what
// it is, its text with one number of decimals whatever the step, and whether it is provisional.
struct Cifra
{
    QString rotulo, ayuda;
    std::function<Texto(const Figuras &, Hora)> texto;
    std::function<bool(const Figuras &)> provisional = [](const Figuras &) { return false; };
    bool oculta = false; // in the table until the user shows it
};

enum Columna {
    cHora, cEscalon, cSubida, cPico, cSobreimpulso, cTiempoPico, cBanda, cEstablecimiento,
    cFinal, cError, cErrorPorciento, cPeriodo, cZeta, cWn, cConstante, cRetardo, cResiduo, cNota,
    columnasTabla
};

const auto subidaP = [](const Figuras &f) { return f.subidaProvisional; };
const auto picoP = [](const Figuras &f) { return f.picoProvisional; };
const auto finalP = [](const Figuras &f) { return f.finalProvisional; };

const std::array<Cifra, columnasTabla> cifras{{
    {QStringLiteral("Hora"), QStringLiteral("Hora del escalón"),
     [](const Figuras &f, Hora desfase) -> Texto {
         if (!f.hay)
             return std::nullopt;
         const auto pared = std::chrono::time_point_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::time_point(f.inicio.time_since_epoch() + desfase));
         return QDateTime::fromMSecsSinceEpoch(pared.time_since_epoch().count())
             .toString(QStringLiteral("HH:mm:ss.zzz"));
     }},
    {QStringLiteral("Escalón"), QStringLiteral("Escalón del set point"),
     [](const Figuras &f, Hora) -> Texto {
         if (!f.hay)
             return std::nullopt;
         return QStringLiteral("%1 → %2").arg(f.desde).arg(f.hasta);
     }},
    {QStringLiteral("Subida (s)"), QStringLiteral("Tiempo de subida, del 10 % al 90 % del camino al valor final"),
     [](const Figuras &f, Hora) { return real(f.subida, 3); }, subidaP},
    {QStringLiteral("Valor de pico (cuentas)"), QStringLiteral("El valor más lejano en el sentido del escalón"),
     [](const Figuras &f, Hora) { return real(f.pico, 1); }, picoP, true},
    {QStringLiteral("Sobreimpulso (%)"), QStringLiteral("Cuánto pasa del valor final, en % de la respuesta"),
     [](const Figuras &f, Hora) { return real(f.sobreimpulso, 1); }, picoP},
    {QStringLiteral("Tiempo de pico (s)"), QStringLiteral("Cuándo llega al pico, desde el escalón"),
     [](const Figuras &f, Hora) { return real(f.tiempoPico, 3); },
     [](const Figuras &f) { return f.tiempoPicoProvisional; }, true},
    {QStringLiteral("Banda (cuentas)"), QStringLiteral("Semiancho de la banda de establecimiento: 5 % de la respuesta, al menos 1 cuenta"),
     [](const Figuras &f, Hora) -> Texto {
         if (!f.banda)
             return std::nullopt;
         return QStringLiteral("± ") + *real(f.banda, 1);
     }, finalP, true},
    {QStringLiteral("Establecimiento (s)"), QStringLiteral("Última entrada en la banda alrededor del valor final, desde el escalón"),
     [](const Figuras &f, Hora) { return real(f.establecimiento, 3); },
     [](const Figuras &f) { return f.establecimientoProvisional; }},
    {QStringLiteral("Valor final (cuentas)"), QStringLiteral("Donde acaba la respuesta ajustada"),
     [](const Figuras &f, Hora) { return real(f.valorFinal, 1); }, finalP},
    {QStringLiteral("Error (cuentas)"), QStringLiteral("Error permanente e = r − y: set point menos valor final"),
     [](const Figuras &f, Hora) { return real(f.error, 1, true); }, finalP},
    {QStringLiteral("Error (%)"), QStringLiteral("Error permanente en % del escalón del set point"),
     [](const Figuras &f, Hora) { return real(f.errorPorciento, 1, true); }, finalP, true},
    {QStringLiteral("Periodo (s)"), QStringLiteral("Periodo de una oscilación que no se amortigua"),
     [](const Figuras &f, Hora) { return real(f.periodo, 3); }, {}, true},
    {QStringLiteral("ζ"), QStringLiteral("Amortiguamiento del modelo de segundo orden ajustado"),
     [](const Figuras &f, Hora) { return real(f.zeta, 2); }, finalP},
    {QStringLiteral("ωn (rad/s)"), QStringLiteral("Frecuencia natural del modelo de segundo orden ajustado"),
     [](const Figuras &f, Hora) { return real(f.wn, 2); }, finalP},
    {QStringLiteral("τ (s)"), QStringLiteral("Constante de tiempo del modelo ajustado, donde es de primer orden"),
     [](const Figuras &f, Hora) { return real(f.constante, 3); }, finalP},
    {QStringLiteral("Retardo (s)"), QStringLiteral("Tiempo muerto del modelo ajustado"),
     [](const Figuras &f, Hora) { return real(f.retardo, 3); }, finalP, true},
    {QStringLiteral("Residuo (cuentas)"), QStringLiteral("Desviación de las muestras respecto al modelo, frente al ruido: el de las muestras en reposo antes del escalón o, si no lo estaban, el del propio residuo"),
     [](const Figuras &f, Hora) { return f.modelo ? real(f.residuo, 2) : std::nullopt; }, {}, true},
    {QStringLiteral("Nota"), QStringLiteral("Por qué falta una cifra, o si es provisional"),
     [](const Figuras &f, Hora) -> Texto {
         const QString n = nota(f);
         return n.isEmpty() ? Texto() : Texto(n);
     }},
}};

bool provisional(const Cifra &c, const Figuras &f)
{
    return c.provisional && c.provisional(f);
}

QPen trazo(Qt::GlobalColor color, Qt::PenStyle estilo = Qt::SolidLine)
{
    QPen p(color);
    p.setStyle(estilo);
    return p;
}

} // namespace

VentanaRespuesta::VentanaRespuesta(const RespuestaEscalon &respuesta, QWidget *parent)
    : QWidget(parent, Qt::Window), respuesta_(respuesta),
      desfase_(std::chrono::system_clock::now().time_since_epoch()
               - std::chrono::duration_cast<Hora>(
                   std::chrono::steady_clock::now().time_since_epoch()))
{
    setObjectName(QStringLiteral("VentanaRespuesta"));
    setWindowTitle(QStringLiteral("Respuesta al escalón"));

    estado_ = new QLabel;
    estado_->setObjectName(QStringLiteral("lblEstado"));
    estado_->setWordWrap(true);

    grafico_ = new QCustomPlot;
    grafico_->setObjectName(QStringLiteral("graficoEscalon"));
    grafico_->setMinimumSize(320, 200);
    grafico_->xAxis->setLabel(QStringLiteral("s desde el escalón"));
    const std::array<std::pair<QString, QPen>, gModelo + 1> series{{
        {QStringLiteral("Valor"), trazo(Qt::blue)},
        {QStringLiteral("Set point"), trazo(Qt::red)},
        {QStringLiteral("10 %"), trazo(Qt::darkGray, Qt::DotLine)},
        {QStringLiteral("90 %"), trazo(Qt::darkGray, Qt::DotLine)},
        {QStringLiteral("Valor final"), trazo(Qt::darkGreen, Qt::DashLine)},
        {QStringLiteral("Banda"), trazo(Qt::green, Qt::DashDotLine)},
        {QStringLiteral("Banda"), trazo(Qt::green, Qt::DashDotLine)},
        {QStringLiteral("Pico"), trazo(Qt::magenta)},
        {QStringLiteral("Modelo"), QPen(QColor(255, 140, 0), 2)},
    }};
    for (const auto &[nombre, pluma] : series) {
        QCPGraph *g = grafico_->addGraph();
        g->setName(nombre);
        g->setPen(pluma);
    }
    grafico_->graph(gPico)->setLineStyle(QCPGraph::lsNone);
    grafico_->graph(gPico)->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 8));

    // The current step's figures on one tab, the last steps on another: the window stays
    // narrow enough to sit beside the trend on a 1280 x 800 screen.
    auto *hoja = new QWidget;
    auto *formulario = new QFormLayout(hoja);
    for (const Cifra &c : cifras) {
        auto *rotulo = new QLabel(c.rotulo);
        rotulo->setToolTip(c.ayuda);
        auto *valor = new QLabel(nada);
        valor->setTextInteractionFlags(Qt::TextSelectableByMouse);
        valor->setWordWrap(true);
        formulario->addRow(rotulo, valor);
        rotulos_ << rotulo;
        valores_ << valor;
    }

    tabla_ = new QTableWidget(0, int(cifras.size()));
    tabla_->setObjectName(QStringLiteral("tablaEscalones"));
    tabla_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView *cabecera = tabla_->horizontalHeader();
    cabecera->setSectionResizeMode(QHeaderView::ResizeToContents);
    cabecera->setContextMenuPolicy(Qt::ActionsContextMenu);
    // Columns a user can hide or show from the heading's menu; «Copiar» copies them all.
    for (int c = 0; c < int(cifras.size()); ++c) {
        auto *item = new QTableWidgetItem(cifras[size_t(c)].rotulo);
        item->setToolTip(cifras[size_t(c)].ayuda);
        tabla_->setHorizontalHeaderItem(c, item);
        tabla_->setColumnHidden(c, cifras[size_t(c)].oculta);
        auto *accion = new QAction(cifras[size_t(c)].rotulo, cabecera);
        accion->setCheckable(true);
        accion->setChecked(!cifras[size_t(c)].oculta);
        connect(accion, &QAction::toggled, tabla_,
                [this, c](bool ver) { tabla_->setColumnHidden(c, !ver); });
        cabecera->addAction(accion);
    }

    auto *pestanas = new QTabWidget;
    pestanas->addTab(hoja, QStringLiteral("Escalón actual"));
    pestanas->addTab(tabla_, QStringLiteral("Últimos %1 escalones").arg(RespuestaEscalon::escalonesGuardados));

    auto *copiarBoton = new QPushButton(QStringLiteral("Copiar"));
    copiarBoton->setObjectName(QStringLiteral("btnCopiar"));
    copiarBoton->setToolTip(QStringLiteral("Copia la tabla como texto separado por tabuladores"));
    connect(copiarBoton, &QPushButton::clicked, this, &VentanaRespuesta::copiar);
    auto *atajo = new QShortcut(QKeySequence::Copy, this);
    connect(atajo, &QShortcut::activated, this, &VentanaRespuesta::copiar);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    auto *pie = new QHBoxLayout;
    pie->addWidget(new QLabel(QStringLiteral("≈: provisional")));
    pie->addStretch();
    pie->addWidget(copiarBoton);

    auto *todo = new QVBoxLayout(this);
    todo->addWidget(estado_);
    todo->addWidget(grafico_, 1);
    todo->addWidget(pestanas, 1);
    todo->addLayout(pie);
    resize(350, 720);

    connect(&temporizador_, &QTimer::timeout, this, &VentanaRespuesta::actualizar);
}

void VentanaRespuesta::actualizar()
{
    const Figuras actual = respuesta_.actual();
    if (!actual.hay)
        estado_->setText(QStringLiteral("Aún no se ha visto ningún escalón del set point."));
    else if (actual.pequeno)
        estado_->setText(QStringLiteral("Escalón demasiado pequeño para medirlo frente al ruido "
                                        "y a la resolución de una cuenta."));
    else
        estado_->clear();
    estado_->setVisible(!estado_->text().isEmpty());
    const QColor gris = palette().color(QPalette::Disabled, QPalette::WindowText);
    const QColor normal = palette().color(QPalette::WindowText);
    for (size_t i = 0; i < cifras.size(); ++i) {
        const bool p = provisional(cifras[i], actual);
        const Texto t = cifras[i].texto(actual, desfase_);
        valores_[qsizetype(i)]->setText(t ? (p ? QStringLiteral("≈ ") : QString()) + *t : nada);
        QPalette paleta = valores_[qsizetype(i)]->palette();
        paleta.setColor(QPalette::WindowText, p && t ? gris : normal);
        valores_[qsizetype(i)]->setPalette(paleta);
    }
    // Where this step's noise came from.
    valores_[cResiduo]->setToolTip(
        !actual.residuo ? QString()
        : actual.ruidoEnReposo
            ? QStringLiteral("Ruido de %1, medido en las muestras en reposo antes del escalón").arg(cuentas(actual.ruido))
            : QStringLiteral("Ruido de %1, medido en el residuo: antes del escalón el valor no estaba en reposo").arg(cuentas(actual.ruido)));
    const int filas = respuesta_.cuantos();
    tabla_->setRowCount(filas);
    for (int fila = 0; fila < filas; ++fila) {
        const Figuras f = fila == 0 ? actual : respuesta_.escalon(fila);
        for (int c = 0; c < int(cifras.size()); ++c) {
            QTableWidgetItem *item = tabla_->item(fila, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                tabla_->setItem(fila, c, item);
            }
            const bool p = provisional(cifras[size_t(c)], f);
            const Texto t = cifras[size_t(c)].texto(f, desfase_);
            item->setText(t ? (p ? QStringLiteral("≈ ") : QString()) + *t : nada);
            item->setForeground(p && t ? gris : normal);
        }
    }
    dibujar(actual);
}

void VentanaRespuesta::dibujar(const RespuestaEscalon::Figuras &f)
{
    const RegistroEscalon &r = respuesta_.registro();
    const int n = f.hay ? r.puntos() : 0;
    QVector<double> t(n), y(n);
    std::copy_n(r.tiempos(), n, t.begin());
    std::copy_n(r.valores(), n, y.begin());
    const double fin = n > 0 ? std::max(t.last(), 1e-3) : 1.0;
    const auto recta = [&](Grafico g, std::optional<double> nivel) {
        if (nivel)
            grafico_->graph(g)->setData({0.0, fin}, {*nivel, *nivel}, true);
        else
            grafico_->graph(g)->data()->clear();
    };
    grafico_->graph(gValor)->setData(t, y, true);
    recta(gSetPoint, f.hay ? std::optional<double>(f.hasta) : std::nullopt);
    const bool medible = f.hay && !f.pequeno && n > 0;
    const bool niveles = medible && f.nivel10 != f.nivel90;
    recta(gNivel10, niveles ? std::optional(f.nivel10) : std::nullopt);
    recta(gNivel90, niveles ? std::optional(f.nivel90) : std::nullopt);
    recta(gFinal, medible ? f.valorFinal : std::nullopt);
    const bool hayBanda = medible && f.valorFinal && f.banda;
    recta(gBandaArriba, hayBanda ? std::optional(*f.valorFinal + *f.banda) : std::nullopt);
    recta(gBandaAbajo, hayBanda ? std::optional(*f.valorFinal - *f.banda) : std::nullopt);
    if (medible && f.pico && f.tiempoPico)
        grafico_->graph(gPico)->setData({*f.tiempoPico}, {*f.pico}, true);
    else
        grafico_->graph(gPico)->data()->clear();
    // The fitted response over the samples, fine enough for its swing at any width.
    QVector<double> mt, my;
    if (medible && f.modelo) {
        constexpr int puntos = 400;
        for (int i = 0; i <= puntos; ++i) {
            mt << fin * i / puntos;
            my << f.modelo->valor(mt.last());
        }
    }
    grafico_->graph(gModelo)->setData(mt, my, true);
    grafico_->rescaleAxes();
    grafico_->yAxis->scaleRange(1.1);
    grafico_->replot(QCustomPlot::rpQueuedReplot);
}

QString VentanaRespuesta::textoTabla() const
{
    QStringList titulos;
    for (const Cifra &c : cifras)
        titulos << c.rotulo;
    QString texto = titulos.join(u'\t') + u'\n';
    for (int fila = 0; fila < respuesta_.cuantos(); ++fila) {
        const Figuras f = respuesta_.escalon(fila);
        QStringList celdas;
        for (const Cifra &c : cifras) {
            const Texto t = c.texto(f, desfase_);
            celdas << (t && provisional(c, f) ? *t + QStringLiteral(" (provisional)") : t.value_or(QString()));
        }
        texto += celdas.join(u'\t') + u'\n';
    }
    return texto;
}

void VentanaRespuesta::copiar() const
{
    QApplication::clipboard()->setText(textoTabla());
}

QPoint VentanaRespuesta::posicionLibre(const QRect &tendencia, const QSize &tamano,
                                       const QRect &pantalla)
{
    const int w = tamano.width(), h = tamano.height();
    const auto dentro = [&](int x, int y) {
        const int xMax = std::max(pantalla.left(), pantalla.right() + 1 - w);
        const int yMax = std::max(pantalla.top(), pantalla.bottom() + 1 - h);
        return QPoint(std::clamp(x, pantalla.left(), xMax), std::clamp(y, pantalla.top(), yMax));
    };
    struct Lado
    {
        int sitio; // room on that side
        QPoint punto;
    };
    const std::array<Lado, 4> lados{{
        {pantalla.right() - tendencia.right(), dentro(tendencia.right() + 1, tendencia.top())},
        {tendencia.left() - pantalla.left(), dentro(tendencia.left() - w, tendencia.top())},
        {pantalla.bottom() - tendencia.bottom(), dentro(tendencia.left(), tendencia.bottom() + 1)},
        {tendencia.top() - pantalla.top(), dentro(tendencia.left(), tendencia.top() - h)},
    }};
    for (size_t i = 0; i < lados.size(); ++i)
        if (lados[i].sitio >= (i < 2 ? w : h))
            return lados[i].punto;
    return std::max_element(lados.begin(), lados.end(), [](const Lado &a, const Lado &b) {
               return a.sitio < b.sitio;
           })->punto;
}

void VentanaRespuesta::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    actualizar();
    temporizador_.start(Adquisicion::intervaloLecturasMs);
}

void VentanaRespuesta::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    temporizador_.stop();
}
