#include "ventanarespuesta.h"

#include <array>
#include <cmath>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "recepcion/adquisicion.h"
#include "escalon/respuestaescalon.h"
#include "programa/ejecutor.h"
#include "respuesta/superposicion.h"

namespace {

using Figuras = RespuestaEscalon::Figuras;
using Nota = RespuestaEscalon::Nota;
using Hora = std::chrono::system_clock::duration;
// What a row's figures are shown with beside the figures themselves.
struct Fila
{
    Hora desfase; // steady clock to the time of day
    QString origen;
};
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
    std::function<Texto(const Figuras &, const Fila &)> texto;
    std::function<bool(const Figuras &)> provisional = [](const Figuras &) { return false; };
    bool oculta = false; // in the table until the user shows it
};

enum Columna {
    cHora, cOrigen, cEscalon, cSubida, cPico, cSobreimpulso, cTiempoPico, cBanda, cEstablecimiento,
    cFinal, cError, cErrorPorciento, cPeriodo, cZeta, cWn, cConstante, cRetardo, cResiduo, cRuido, cNota,
    columnasTabla
};

const auto subidaP = [](const Figuras &f) { return f.subidaProvisional; };
const auto picoP = [](const Figuras &f) { return f.picoProvisional; };
const auto finalP = [](const Figuras &f) { return f.finalProvisional; };

const std::array<Cifra, columnasTabla> cifras{{
    {QStringLiteral("Hora"), QStringLiteral("Hora del escalón"),
     [](const Figuras &f, const Fila &fila) -> Texto {
         if (!f.hay)
             return std::nullopt;
         const auto pared = std::chrono::time_point_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::time_point(f.inicio.time_since_epoch() + fila.desfase));
         // The language's decimal separator, so a spreadsheet takes it as a time.
         const QTime hora = QDateTime::fromMSecsSinceEpoch(pared.time_since_epoch().count()).time();
         return hora.toString(QStringLiteral("HH:mm:ss")) + QLocale().decimalPoint()
                + hora.toString(QStringLiteral("zzz"));
     }},
    {QStringLiteral("Origen"), QStringLiteral("Puerto o archivo del que vienen las muestras del escalón"),
     [](const Figuras &f, const Fila &fila) -> Texto {
         if (!f.hay || fila.origen.isEmpty())
             return std::nullopt;
         return fila.origen;
     }},
    {QStringLiteral("Escalón"), QStringLiteral("Escalón del set point"),
     [](const Figuras &f, const Fila &) -> Texto {
         if (!f.hay)
             return std::nullopt;
         return QStringLiteral("%1 → %2").arg(f.desde).arg(f.hasta);
     }},
    {QStringLiteral("Subida (s)"), QStringLiteral("Tiempo de subida, del 10 % al 90 % del camino al valor final"),
     [](const Figuras &f, const Fila &) { return real(f.subida, 3); }, subidaP},
    {QStringLiteral("Valor de pico (cuentas)"), QStringLiteral("El valor más lejano en el sentido del escalón"),
     [](const Figuras &f, const Fila &) { return real(f.pico, 1); }, picoP, true},
    {QStringLiteral("Sobreimpulso (%)"), QStringLiteral("Cuánto pasa del valor final, en % de la respuesta"),
     [](const Figuras &f, const Fila &) { return real(f.sobreimpulso, 1); }, picoP},
    {QStringLiteral("Tiempo de pico (s)"), QStringLiteral("Cuándo llega al pico, desde el escalón"),
     [](const Figuras &f, const Fila &) { return real(f.tiempoPico, 3); },
     [](const Figuras &f) { return f.tiempoPicoProvisional; }, true},
    {QStringLiteral("Banda (cuentas)"), QStringLiteral("Semiancho de la banda de establecimiento: 5 % de la respuesta, al menos 1 cuenta"),
     [](const Figuras &f, const Fila &) -> Texto {
         if (!f.banda)
             return std::nullopt;
         return QStringLiteral("± ") + *real(f.banda, 1);
     }, finalP, true},
    {QStringLiteral("Establecimiento (s)"), QStringLiteral("Última entrada en la banda alrededor del valor final, desde el escalón"),
     [](const Figuras &f, const Fila &) { return real(f.establecimiento, 3); },
     [](const Figuras &f) { return f.establecimientoProvisional; }},
    {QStringLiteral("Valor final (cuentas)"), QStringLiteral("Donde acaba la respuesta ajustada"),
     [](const Figuras &f, const Fila &) { return real(f.valorFinal, 1); }, finalP},
    {QStringLiteral("Error (cuentas)"), QStringLiteral("Error permanente e = r − y: set point menos valor final"),
     [](const Figuras &f, const Fila &) { return real(f.error, 1, true); }, finalP},
    {QStringLiteral("Error (%)"), QStringLiteral("Error permanente en % del escalón del set point"),
     [](const Figuras &f, const Fila &) { return real(f.errorPorciento, 1, true); }, finalP, true},
    {QStringLiteral("Periodo (s)"), QStringLiteral("Periodo de una oscilación que no se amortigua"),
     [](const Figuras &f, const Fila &) { return real(f.periodo, 3); }, {}, true},
    {QStringLiteral("ζ"), QStringLiteral("Amortiguamiento del modelo de segundo orden ajustado"),
     [](const Figuras &f, const Fila &) { return real(f.zeta, 2); }, finalP},
    {QStringLiteral("ωn (rad/s)"), QStringLiteral("Frecuencia natural del modelo de segundo orden ajustado"),
     [](const Figuras &f, const Fila &) { return real(f.wn, 2); }, finalP},
    {QStringLiteral("τ (s)"), QStringLiteral("Constante de tiempo del modelo ajustado, donde es de primer orden"),
     [](const Figuras &f, const Fila &) { return real(f.constante, 3); }, finalP},
    {QStringLiteral("Retardo (s)"), QStringLiteral("Tiempo muerto del modelo ajustado"),
     [](const Figuras &f, const Fila &) { return real(f.retardo, 3); }, finalP, true},
    {QStringLiteral("Residuo (cuentas)"), QStringLiteral("Desviación de las muestras respecto al modelo, frente al ruido: el de las muestras en reposo antes del escalón o, si no lo estaban, el del propio residuo"),
     [](const Figuras &f, const Fila &) { return f.modelo ? real(f.residuo, 2) : std::nullopt; }, {}, true},
    {QStringLiteral("Ruido (cuentas)"), QStringLiteral("Ruido de una muestra, con el que se compara el residuo: el de las muestras en reposo antes del escalón o, si no lo estaban, el del propio residuo"),
     [](const Figuras &f, const Fila &) { return f.hay && !f.pequeno ? real(f.ruido, 2) : std::nullopt; }, {}, true},
    {QStringLiteral("Nota"), QStringLiteral("Por qué falta una cifra, o si es provisional"),
     [](const Figuras &f, const Fila &) -> Texto {
         const QString n = nota(f);
         return n.isEmpty() ? Texto() : Texto(n);
     }},
}};

bool provisional(const Cifra &c, const Figuras &f)
{
    return c.provisional && c.provisional(f);
}

// The figures' columns from `desde` on: headings, the ones hidden at first, and the heading's
// menu to hide or show each.
void columnas(QTableWidget &tabla, int desde)
{
    QHeaderView *cabecera = tabla.horizontalHeader();
    cabecera->setSectionResizeMode(QHeaderView::ResizeToContents);
    cabecera->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (int c = 0; c < int(cifras.size()); ++c) {
        const Cifra &cifra = cifras[size_t(c)];
        auto *item = new QTableWidgetItem(cifra.rotulo);
        item->setToolTip(cifra.ayuda);
        tabla.setHorizontalHeaderItem(desde + c, item);
        tabla.setColumnHidden(desde + c, cifra.oculta);
        auto *accion = new QAction(cifra.rotulo, cabecera);
        accion->setCheckable(true);
        accion->setChecked(!cifra.oculta);
        QObject::connect(accion, &QAction::toggled, &tabla,
                         [&tabla, c = desde + c](bool ver) { tabla.setColumnHidden(c, !ver); });
        cabecera->addAction(accion);
    }
}

// A step's figures in a row of a table, from column `desde` on; a provisional one greyed.
void llenar(QTableWidget &tabla, int fila, int desde, const Figuras &f, const Fila &de,
            const QColor &gris, const QColor &normal)
{
    for (int c = 0; c < int(cifras.size()); ++c) {
        QTableWidgetItem *item = tabla.item(fila, desde + c);
        if (!item) {
            item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            tabla.setItem(fila, desde + c, item);
        }
        const bool p = provisional(cifras[size_t(c)], f);
        const Texto t = cifras[size_t(c)].texto(f, de);
        item->setText(t ? (p ? QStringLiteral("≈ ") : QString()) + *t : nada);
        item->setForeground(p && t ? gris : normal);
    }
}

// A key below the plot, where it hides none of the response.
void claveDebajo(QCustomPlot &g)
{
    g.legend->setVisible(true);
    QFont letra = g.legend->font();
    letra.setPointSizeF(letra.pointSizeF() * 0.8);
    g.legend->setFont(letra);
    g.legend->setWrap(4);
    g.legend->setFillOrder(QCPLegend::foColumnsFirst, true);
    g.legend->setBorderPen(Qt::NoPen);
    g.plotLayout()->addElement(1, 0, g.legend);
    g.plotLayout()->setRowStretchFactor(1, 0.001);
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
    // Two lines' room, kept while it says nothing, so what is below does not move.
    estado_->setFixedHeight(2 * estado_->fontMetrics().lineSpacing());
    QSizePolicy politica = estado_->sizePolicy();
    politica.setRetainSizeWhenHidden(true);
    estado_->setSizePolicy(politica);

    grafico_ = new QCustomPlot;
    grafico_->setObjectName(QStringLiteral("graficoEscalon"));
    // Small enough for the whole window to fit over a panel's trend on a 1280 x 800 screen.
    grafico_->setMinimumSize(320, 160);
    grafico_->xAxis->setLabel(QStringLiteral("s desde el escalón"));
    const std::array<std::pair<QString, QPen>, gModelo + 1> series{{
        {QStringLiteral("Valor"), trazo(Qt::blue)},
        {QStringLiteral("Set point"), trazo(Qt::red)},
        {QStringLiteral("10 % y 90 %"), trazo(Qt::darkGray, Qt::DotLine)},
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
    // A key below the plot, where it hides none of the response: each kind of line once.
    grafico_->graph(gNivel90)->removeFromLegend();
    grafico_->graph(gBandaAbajo)->removeFromLegend();
    claveDebajo(*grafico_);

    // A program's repeats of one stage, in place of the current step while chosen.
    graficoRepeticiones_ = new QCustomPlot;
    graficoRepeticiones_->setObjectName(QStringLiteral("graficoRepeticiones"));
    graficoRepeticiones_->setMinimumSize(320, 160);
    graficoRepeticiones_->xAxis->setLabel(QStringLiteral("s desde el escalón"));
    claveDebajo(*graficoRepeticiones_);
    // «Repetición 1» to «Repetición 3» in a row, uncut, in the window's narrowest width.
    graficoRepeticiones_->legend->setWrap(3);
    graficoRepeticiones_->legend->setIconSize(20, 10);
    graficos_ = new QStackedWidget;
    graficos_->addWidget(grafico_);
    graficos_->addWidget(graficoRepeticiones_);

    superponer_ = new QComboBox;
    superponer_->setObjectName(QStringLiteral("cmbSuperponer"));
    superponer_->setToolTip(QStringLiteral("Superpone las repeticiones de una etapa «Escalón» del "
                                           "programa, cada una desde su escalón, con su modelo ajustado"));
    superponer_->addItem(QStringLiteral("Escalón actual"), 0);
    connect(superponer_, &QComboBox::activated, this,
            [this](int i) { superponer(superponer_->itemData(i).toInt()); });
    filaSuperponer_ = new QWidget;
    auto *fila = new QHBoxLayout(filaSuperponer_);
    fila->setContentsMargins(0, 0, 0, 0);
    fila->addWidget(new QLabel(QStringLiteral("Ver")));
    fila->addWidget(superponer_, 1);
    filaSuperponer_->hide(); // only where there is a program

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
    // Columns a user can hide or show from the heading's menu; «Copiar» copies them all.
    columnas(*tabla_, 0);
    // Owned by the window until a program gives it its tab; a log's window never does.
    tablaRepeticiones_ = new QTableWidget(0, 1 + int(cifras.size()), this);
    tablaRepeticiones_->hide();
    tablaRepeticiones_->setObjectName(QStringLiteral("tablaRepeticiones"));
    tablaRepeticiones_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tablaRepeticiones_->setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral("Repetición")));
    columnas(*tablaRepeticiones_, 1);
    tablaRepeticiones_->setColumnHidden(1 + cOrigen, true); // one port for a whole run

    // In a scroll area: a note that wraps grows the sheet, never the tabs, which stay put.
    auto *desplazable = new QScrollArea;
    desplazable->setWidgetResizable(true);
    desplazable->setFrameShape(QFrame::NoFrame);
    desplazable->setWidget(hoja);
    pestanas_ = new QTabWidget;
    pestanas_->setObjectName(QStringLiteral("pestanas"));
    pestanas_->addTab(desplazable, QStringLiteral("Escalón actual"));
    pestanas_->addTab(tabla_, QStringLiteral("Últimos %1 escalones").arg(RespuestaEscalon::escalonesGuardados));

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
    todo->addWidget(filaSuperponer_);
    todo->addWidget(graficos_, 1);
    todo->addWidget(pestanas_, 1);
    todo->addLayout(pie);
    resize(350, 720);

    connect(&temporizador_, &QTimer::timeout, this, &VentanaRespuesta::actualizar);
}

void VentanaRespuesta::actualizar()
{
    listarEtapas();
    const Figuras actual = respuesta_.actual();
    // With the repeats on show it says what their plot shows.
    if (etapa_ == 0) {
        if (!actual.hay)
            estado_->setText(QStringLiteral("Aún no se ha visto ningún escalón del set point."));
        else if (actual.pequeno)
            estado_->setText(QStringLiteral("Escalón demasiado pequeño para medirlo frente al ruido "
                                            "y a la resolución de una cuenta."));
        else
            estado_->clear();
        estado_->setVisible(!estado_->text().isEmpty());
    }
    const QColor gris = palette().color(QPalette::Disabled, QPalette::WindowText);
    const QColor normal = palette().color(QPalette::WindowText);
    const Fila deActual{desfase_, respuesta_.origen(0)};
    for (size_t i = 0; i < cifras.size(); ++i) {
        const bool p = provisional(cifras[i], actual);
        const Texto t = cifras[i].texto(actual, deActual);
        valores_[qsizetype(i)]->setText(t ? (p ? QStringLiteral("≈ ") : QString()) + *t : nada);
        QPalette paleta = valores_[qsizetype(i)]->palette();
        paleta.setColor(QPalette::WindowText, p && t ? gris : normal);
        valores_[qsizetype(i)]->setPalette(paleta);
    }
    // Where this step's noise came from.
    const QString deDonde =
        !actual.hay || actual.pequeno ? QString()
        : actual.ruidoEnReposo
            ? QStringLiteral("Ruido de %1, medido en las muestras en reposo antes del escalón").arg(cuentas(actual.ruido))
            : QStringLiteral("Ruido de %1, medido en el residuo: antes del escalón el valor no estaba en reposo").arg(cuentas(actual.ruido));
    valores_[cResiduo]->setToolTip(actual.residuo ? deDonde : QString());
    valores_[cRuido]->setToolTip(deDonde);
    const int filas = respuesta_.cuantos();
    tabla_->setRowCount(filas);
    for (int fila = 0; fila < filas; ++fila) {
        const Figuras f = fila == 0 ? actual : respuesta_.escalon(fila);
        llenar(*tabla_, fila, 0, f, {desfase_, respuesta_.origen(fila)}, gris, normal);
    }
    if (etapa_ == 0)
        dibujar(actual);
    else if (dibujados_ != ejecutor_->escalones().size())
        dibujarRepeticiones(); // a repeat more, or a new run
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

void VentanaRespuesta::setEjecutor(const Ejecutor &ejecutor)
{
    ejecutor_ = &ejecutor;
    filaSuperponer_->show();
    pestanas_->addTab(tablaRepeticiones_, QStringLiteral("Repeticiones"));
    listarEtapas();
}

void VentanaRespuesta::listarEtapas()
{
    if (!ejecutor_)
        return;
    // The program's «Escalón» stages, each with the repeats measured so far.
    const Programa &p = ejecutor_->programa();
    QList<std::pair<int, QString>> etapas{{0, QStringLiteral("Escalón actual")}};
    for (qsizetype i = 0; i < p.etapas.size(); ++i) {
        if (p.etapas[i].tipo != Etapa::Tipo::escalon)
            continue;
        const auto n = std::count_if(ejecutor_->escalones().begin(), ejecutor_->escalones().end(),
                                     [&](const resultados::Escalon &e) { return e.etapa == i + 1; });
        etapas.append({int(i + 1), QStringLiteral("Etapa %1, Escalón %2: %3 %4").arg(i + 1)
                                       .arg(p.etapas[i].setPoint).arg(n)
                                       .arg(n == 1 ? QStringLiteral("repetición") : QStringLiteral("repeticiones"))});
    }
    bool igual = superponer_->count() == etapas.size();
    for (int i = 0; igual && i < etapas.size(); ++i)
        igual = superponer_->itemData(i).toInt() == etapas[i].first && superponer_->itemText(i) == etapas[i].second;
    if (!igual) {
        superponer_->clear();
        for (const auto &[etapa, texto] : etapas)
            superponer_->addItem(texto, etapa);
    }
    // A new run's program may not have the stage shown.
    if (superponer_->findData(etapa_) < 0) {
        etapa_ = 0;
        graficos_->setCurrentWidget(grafico_);
    }
    superponer_->setCurrentIndex(superponer_->findData(etapa_));
}

void VentanaRespuesta::superponer(int etapa)
{
    if (!ejecutor_)
        etapa = 0;
    etapa_ = etapa;
    dibujados_ = -1;
    graficos_->setCurrentWidget(etapa > 0 ? graficoRepeticiones_ : grafico_);
    listarEtapas();
    if (etapa_ > 0)
        pestanas_->setCurrentWidget(tablaRepeticiones_);
    else if (pestanas_->currentWidget() == tablaRepeticiones_)
        pestanas_->setCurrentIndex(0);
    actualizar();
}

void VentanaRespuesta::dibujarRepeticiones()
{
    const QList<resultados::Escalon> &escalones = ejecutor_->escalones();
    const superposicion::Vista v = superposicion::calcular(escalones, etapa_);
    superposicion::dibujar(*graficoRepeticiones_, v);
    const QList<Etapa> &etapas = ejecutor_->programa().etapas;
    estado_->setText(superposicion::texto(v, etapas[etapa_ - 1].setPoint));
    estado_->setVisible(true);
    const QColor gris = palette().color(QPalette::Disabled, QPalette::WindowText);
    const QColor normal = palette().color(QPalette::WindowText);
    tablaRepeticiones_->setRowCount(0);
    for (const resultados::Escalon &e : escalones) {
        if (e.etapa != etapa_)
            continue;
        const int fila = tablaRepeticiones_->rowCount();
        tablaRepeticiones_->insertRow(fila);
        tablaRepeticiones_->setItem(fila, 0, new QTableWidgetItem(QString::number(e.repeticion)));
        llenar(*tablaRepeticiones_, fila, 1, e.figuras, {desfase_, QString()}, gris, normal);
    }
    dibujados_ = escalones.size();
}

QString VentanaRespuesta::textoTabla() const
{
    QStringList titulos;
    for (const Cifra &c : cifras)
        titulos << c.rotulo;
    QString texto = titulos.join(u'\t') + u'\n';
    for (int fila = 0; fila < respuesta_.cuantos(); ++fila) {
        const Figuras f = respuesta_.escalon(fila);
        const Fila de{desfase_, respuesta_.origen(fila)};
        QStringList celdas;
        for (const Cifra &c : cifras) {
            const Texto t = c.texto(f, de);
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

void VentanaRespuesta::setOrigen(const QString &origen)
{
    // Several panels and log windows each have one: the title says whose steps these are.
    setWindowTitle(origen.isEmpty() ? QStringLiteral("Respuesta al escalón")
                                    : QStringLiteral("Respuesta al escalón — %1").arg(origen));
}

QRect VentanaRespuesta::sitioLibre(const QRect &panel, QSize tamano, QSize minimo,
                                   const QRect &pantalla, const QRect &cubrible)
{
    // Never taller or wider than the screen: «Copiar» at the bottom stays within reach.
    minimo = minimo.boundedTo(pantalla.size());
    tamano = tamano.boundedTo(pantalla.size()).expandedTo(minimo);
    const auto dentro = [&](QRect r) {
        r.moveLeft(std::clamp(r.left(), pantalla.left(), pantalla.right() + 1 - r.width()));
        r.moveTop(std::clamp(r.top(), pantalla.top(), pantalla.bottom() + 1 - r.height()));
        return r;
    };
    // The window on side i (right, left, below, above) against the panel, on the screen.
    const auto poner = [&](int i, QSize t) {
        switch (i) {
        case 0: return dentro({QPoint(panel.right() + 1, panel.top()), t});
        case 1: return dentro({QPoint(panel.left() - t.width(), panel.top()), t});
        case 2: return dentro({QPoint(panel.left(), panel.bottom() + 1), t});
        default: return dentro({QPoint(panel.left(), panel.top() - t.height()), t});
        }
    };
    const std::array<int, 4> sitio{pantalla.right() - panel.right(), panel.left() - pantalla.left(),
                                   pantalla.bottom() - panel.bottom(), panel.top() - pantalla.top()};
    // Right, left, below, above: the first where the whole window fits.
    for (int i = 0; i < 4; ++i)
        if (sitio[size_t(i)] >= (i < 2 ? tamano.width() : tamano.height()))
            return poner(i, tamano);
    // Else narrowed (or shortened) to the widest room, where that leaves it usable.
    int mejor = -1;
    for (int i = 0; i < 4; ++i) {
        const int falta = i < 2 ? minimo.width() : minimo.height();
        if (sitio[size_t(i)] >= falta && (mejor < 0 || sitio[size_t(i)] > sitio[size_t(mejor)]))
            mejor = i;
    }
    if (mejor >= 0) {
        QSize t = tamano;
        if (mejor < 2)
            t.setWidth(sitio[size_t(mejor)]);
        else
            t.setHeight(sitio[size_t(mejor)]);
        return poner(mejor, t);
    }
    // No room anywhere: over the part of the panel that has no controls, at its right.
    const QRect libre = cubrible.intersected(pantalla);
    if (libre.width() >= minimo.width() && libre.height() >= minimo.height()) {
        const QSize t = tamano.boundedTo(libre.size());
        return {QPoint(libre.right() + 1 - t.width(), libre.top()), t};
    }
    // Else over the panel, on the screen, from the side with most room.
    const auto m = std::max_element(sitio.begin(), sitio.end());
    return poner(int(m - sitio.begin()), tamano);
}

void VentanaRespuesta::colocarJunto(const QWidget &panel, const QRect &cubrible)
{
    colocar(*this, panel, cubrible);
}

void VentanaRespuesta::colocar(QWidget &ventana, const QWidget &panel, const QRect &cubrible)
{
    const QScreen *pantalla = panel.screen();
    const QRect marco = panel.frameGeometry();
    // Decorations as the panel's own: the window has none yet before it is shown.
    const QSize bordes = marco.size() - panel.size();
    const QRect sitio = sitioLibre(
        marco, ventana.size() + bordes,
        ventana.minimumSizeHint().expandedTo(ventana.minimumSize()) + bordes,
        pantalla ? pantalla->availableGeometry() : marco, cubrible);
    ventana.resize(sitio.size() - bordes);
    ventana.move(sitio.topLeft());
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
