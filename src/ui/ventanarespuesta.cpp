#include "ventanarespuesta.h"

#include <array>
#include <cmath>
#include <functional>

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
#include <QTableWidget>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "recepcion/adquisicion.h"
#include "escalon/respuestaescalon.h"

namespace {

using Figuras = RespuestaEscalon::Figuras;
using Hora = std::chrono::system_clock::duration;
using Texto = std::optional<QString>;

const QString nada = QStringLiteral("—");

// As many decimals as the time between samples resolves.
int decimales(double espaciado)
{
    if (espaciado <= 0.0)
        return 3;
    return std::clamp(int(std::ceil(-std::log10(espaciado) - 1e-9)), 0, 4);
}

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

Texto tiempo(const Figuras &f, const std::optional<double> &v)
{
    return real(v, decimales(f.espaciado));
}

QString cuentas(double v)
{
    const QString s = QLocale().toString(v, 'g', v < 10 ? 2 : 3);
    return s + (std::abs(v - 1.0) < 1e-9 ? QStringLiteral(" cuenta") : QStringLiteral(" cuentas"));
}

// «± 1 cuenta (10 %)»: the band actually used, in counts and in % of the response.
Texto banda(const Figuras &f)
{
    if (!f.banda || !f.valorFinal || *f.valorFinal == f.inicial)
        return std::nullopt;
    const double porciento = *f.banda / std::abs(*f.valorFinal - f.inicial) * 100.0;
    return QStringLiteral("± %1 (%2 %)")
        .arg(cuentas(*f.banda), QLocale().toString(porciento, 'g', 2));
}

// Each figure: its caption above the table, its column heading, its text.
struct Cifra
{
    QString rotulo, columna;
    std::function<Texto(const Figuras &, Hora)> texto;
};

const std::array<Cifra, 13> cifras{{
    {QStringLiteral("Hora del escalón"), QStringLiteral("Hora"),
     [](const Figuras &f, Hora desfase) -> Texto {
         if (!f.hay)
             return std::nullopt;
         const auto pared = std::chrono::time_point_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::time_point(f.inicio.time_since_epoch() + desfase));
         return QDateTime::fromMSecsSinceEpoch(pared.time_since_epoch().count())
             .toString(QStringLiteral("HH:mm:ss.zzz"));
     }},
    {QStringLiteral("Escalón del set point"), QStringLiteral("Escalón"),
     [](const Figuras &f, Hora) -> Texto {
         if (!f.hay)
             return std::nullopt;
         return QStringLiteral("%1 → %2").arg(f.desde).arg(f.hasta);
     }},
    {QStringLiteral("Tiempo de subida (10 % a 90 %), s"), QStringLiteral("Subida (s)"),
     [](const Figuras &f, Hora) { return tiempo(f, f.subida); }},
    {QStringLiteral("Valor de pico"), QStringLiteral("Valor de pico"),
     [](const Figuras &f, Hora) { return real(f.pico, 1); }},
    {QStringLiteral("Sobreimpulso, % de la respuesta"), QStringLiteral("Sobreimpulso (%)"),
     [](const Figuras &f, Hora) { return real(f.sobreimpulso, 1); }},
    {QStringLiteral("Tiempo de pico, s"), QStringLiteral("Tiempo de pico (s)"),
     [](const Figuras &f, Hora) { return tiempo(f, f.tiempoPico); }},
    {QStringLiteral("Banda de establecimiento"), QStringLiteral("Banda"),
     [](const Figuras &f, Hora) { return banda(f); }},
    {QStringLiteral("Tiempo de establecimiento, s"), QStringLiteral("Establecimiento (s)"),
     [](const Figuras &f, Hora) { return tiempo(f, f.establecimiento); }},
    {QStringLiteral("Valor final"), QStringLiteral("Valor final"),
     [](const Figuras &f, Hora) { return real(f.valorFinal, 1); }},
    {QStringLiteral("Error permanente e = r − y, cuentas"), QStringLiteral("Error (cuentas)"),
     [](const Figuras &f, Hora) { return real(f.error, 1, true); }},
    {QStringLiteral("Error permanente, % del escalón"), QStringLiteral("Error (%)"),
     [](const Figuras &f, Hora) { return real(f.errorPorciento, 1, true); }},
    {QStringLiteral("Periodo de oscilación, s"), QStringLiteral("Periodo (s)"),
     [](const Figuras &f, Hora) { return tiempo(f, f.periodo); }},
    {QStringLiteral("Nota"), QStringLiteral("Nota"),
     [](const Figuras &f, Hora) -> Texto {
         if (!f.pequeno)
             return std::nullopt;
         return QStringLiteral("demasiado pequeño para medirlo");
     }},
}};

// Its caption names the band actually used.
constexpr int indiceEstablecimiento = 7;

QStringList columnas()
{
    QStringList c;
    for (const Cifra &n : cifras)
        c << n.columna;
    return c;
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
    grafico_->setMinimumSize(360, 220);
    grafico_->xAxis->setLabel(QStringLiteral("s desde el escalón"));
    // Graph order: value, set point, 10 %, 90 %, final value, band (two edges), peak.
    const std::array<std::pair<QString, QPen>, 8> series{{
        {QStringLiteral("Valor"), trazo(Qt::blue)},
        {QStringLiteral("Set point"), trazo(Qt::red)},
        {QStringLiteral("10 %"), trazo(Qt::darkGray, Qt::DotLine)},
        {QStringLiteral("90 %"), trazo(Qt::darkGray, Qt::DotLine)},
        {QStringLiteral("Valor final"), trazo(Qt::darkGreen, Qt::DashLine)},
        {QStringLiteral("Banda"), trazo(Qt::green, Qt::DashDotLine)},
        {QStringLiteral("Banda"), trazo(Qt::green, Qt::DashDotLine)},
        {QStringLiteral("Pico"), trazo(Qt::magenta)},
    }};
    for (const auto &[nombre, pluma] : series) {
        QCPGraph *g = grafico_->addGraph();
        g->setName(nombre);
        g->setPen(pluma);
    }
    grafico_->graph(7)->setLineStyle(QCPGraph::lsNone);
    grafico_->graph(7)->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 8));

    auto *formulario = new QFormLayout;
    for (const Cifra &c : cifras) {
        auto *rotulo = new QLabel(c.rotulo);
        auto *valor = new QLabel(nada);
        valor->setTextInteractionFlags(Qt::TextSelectableByMouse);
        formulario->addRow(rotulo, valor);
        rotulos_ << rotulo;
        valores_ << valor;
    }
    auto *arriba = new QHBoxLayout;
    arriba->addWidget(grafico_, 1);
    arriba->addLayout(formulario);

    tabla_ = new QTableWidget(0, int(cifras.size()));
    tabla_->setObjectName(QStringLiteral("tablaEscalones"));
    tabla_->setHorizontalHeaderLabels(columnas());
    tabla_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tabla_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto *copiarBoton = new QPushButton(QStringLiteral("Copiar"));
    copiarBoton->setObjectName(QStringLiteral("btnCopiar"));
    copiarBoton->setToolTip(QStringLiteral("Copia la tabla como texto separado por tabuladores"));
    connect(copiarBoton, &QPushButton::clicked, this, &VentanaRespuesta::copiar);
    auto *atajo = new QShortcut(QKeySequence::Copy, this);
    connect(atajo, &QShortcut::activated, this, &VentanaRespuesta::copiar);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    auto *pie = new QHBoxLayout;
    pie->addWidget(new QLabel(QStringLiteral("Últimos %1 escalones, el actual primero")
                                  .arg(RespuestaEscalon::escalonesGuardados)));
    pie->addStretch();
    pie->addWidget(copiarBoton);

    auto *todo = new QVBoxLayout(this);
    todo->addWidget(estado_);
    todo->addLayout(arriba);
    todo->addWidget(tabla_, 1);
    todo->addLayout(pie);
    resize(980, 620);

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
    for (size_t i = 0; i < cifras.size(); ++i)
        valores_[qsizetype(i)]->setText(cifras[i].texto(actual, desfase_).value_or(nada));
    rotulos_[indiceEstablecimiento]->setText(
        QStringLiteral("Tiempo de establecimiento (%1), s")
            .arg(banda(actual).value_or(QStringLiteral("± 5 %"))));
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
            item->setText(cifras[size_t(c)].texto(f, desfase_).value_or(nada));
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
    const auto recta = [&](int g, std::optional<double> nivel) {
        if (nivel)
            grafico_->graph(g)->setData({0.0, fin}, {*nivel, *nivel}, true);
        else
            grafico_->graph(g)->data()->clear();
    };
    grafico_->graph(0)->setData(t, y, true);
    recta(1, f.hay ? std::optional<double>(f.hasta) : std::nullopt);
    const bool medible = f.hay && !f.pequeno && n > 0;
    recta(2, medible && f.nivel10 != f.nivel90 ? std::optional(f.nivel10) : std::nullopt);
    recta(3, medible && f.nivel10 != f.nivel90 ? std::optional(f.nivel90) : std::nullopt);
    recta(4, medible ? f.valorFinal : std::nullopt);
    const bool hayBanda = medible && f.valorFinal && f.banda;
    recta(5, hayBanda ? std::optional(*f.valorFinal + *f.banda) : std::nullopt);
    recta(6, hayBanda ? std::optional(*f.valorFinal - *f.banda) : std::nullopt);
    if (medible && f.pico && f.tiempoPico)
        grafico_->graph(7)->setData({*f.tiempoPico}, {*f.pico}, true);
    else
        grafico_->graph(7)->data()->clear();
    grafico_->rescaleAxes();
    grafico_->yAxis->scaleRange(1.1);
    grafico_->replot(QCustomPlot::rpQueuedReplot);
}

QString VentanaRespuesta::textoTabla() const
{
    QString texto = columnas().join(u'\t') + u'\n';
    for (int fila = 0; fila < respuesta_.cuantos(); ++fila) {
        const Figuras f = respuesta_.escalon(fila);
        QStringList celdas;
        for (const Cifra &c : cifras)
            celdas << c.texto(f, desfase_).value_or(QString());
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
