#include "graficohistorial.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>

#include "historial/datoshistorial.h"

// Times of day as the computer writes them; the date too where the view crosses midnight.
class TickerHora : public QCPAxisTicker
{
public:
    QString formato;

protected:
    QString getTickLabel(double tick, const QLocale &, QChar, int) override
    {
        return QLocale().toString(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(tick * 1000))),
                                  formato);
    }
};

namespace {

void puntos(const std::vector<DatosHistorial::Columna> &cols, QVector<double> &t,
            QVector<double> &v, QVector<double> &ts, QVector<double> &s)
{
    for (const DatosHistorial::Columna &c : cols) {
        if (c.valor.vacio())
            continue; // no sample in it: the lines go straight across, within a session
        if (c.corte) {
            t << c.t;
            v << qQNaN();
            ts << c.t;
            s << qQNaN();
        }
        t << c.t << c.t;
        v << c.valor.minimo << c.valor.maximo;
        ts << c.t << c.t;
        if (c.setPoint.vacio())
            s << qQNaN() << qQNaN();
        else
            s << c.setPoint.minimo << c.setPoint.maximo;
    }
}

} // namespace

QString GraficoHistorial::formatoHora(bool milisegundos)
{
    const QLocale l;
    QString f = l.timeFormat(QLocale::LongFormat);
    f.remove(u't');
    f.remove(QStringLiteral("()"));
    f = f.simplified();
    if (milisegundos) {
        const qsizetype s = f.lastIndexOf(u's');
        if (s >= 0)
            f.insert(s + 1, u'\'' + QString(l.decimalPoint()) + QStringLiteral("'zzz"));
    }
    return f;
}

GraficoHistorial::GraficoHistorial(const DatosHistorial &datos, QWidget *parent)
    : QCustomPlot(parent), datos_(datos), ticker_(new TickerHora)
{
    setObjectName(QStringLiteral("graficoHistorial"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setPlottingHint(QCP::phCacheLabels, true);
    // The value over the set point: where both fill a column, the value is what is looked for.
    setPoint_ = addGraph();
    setPoint_->setName(QStringLiteral("Set Point"));
    setPoint_->setPen(QPen(QColor(200, 0, 0), 1));
    valor_ = addGraph();
    valor_->setName(QStringLiteral("Valor"));
    valor_->setPen(QPen(QColor(0, 0, 200), 1));
    valor_->setAdaptiveSampling(false);
    setPoint_->setAdaptiveSampling(false);
    xAxis->setTicker(ticker_);
    yAxis->setLabel(QStringLiteral("Cuentas"));
    legend->setVisible(true);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Time is what one looks along: the wheel and a drag move the time only.
    axisRect()->setRangeDragAxes(xAxis, nullptr);
    axisRect()->setRangeZoomAxes(xAxis, nullptr);
    selectionRect()->setPen(QPen(Qt::black, 1, Qt::DashLine));
    connect(selectionRect(), &QCPSelectionRect::accepted, this,
            [this](const QRect &r, QMouseEvent *) { recuadro(r); });
    connect(xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &GraficoHistorial::alCambiarRango);
    connect(yAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, [this] {
        if (!dibujando_)
            limitar();
    });
    yAxis->setRange(0, 255);
    // Nothing read yet: no times on the axis, rather than some invented one.
    xAxis->setTickLabels(false);

    Cursores::Muestras m;
    m.x = [this](uint64_t i) -> std::optional<double> {
        if (const DatosHistorial::Cruda *c = datos_.muestra(i))
            return c->ms / 1000.0;
        if (i < datos_.cuantos())
            emit pedirBloques({datos_.bloqueDe(i)});
        return std::nullopt;
    };
    m.cercana = [this](double x) -> std::optional<uint64_t> {
        uint64_t i = 0;
        std::vector<size_t> faltan;
        if (datos_.cercana(int64_t(std::llround(x * 1000)), i, faltan))
            return i;
        if (!faltan.empty())
            emit pedirBloques(faltan);
        return std::nullopt;
    };
    m.cuantos = [this] { return datos_.cuantos(); };
    cursores_ = new Cursores(*this, m);
}

void GraficoHistorial::verTodo()
{
    todo_ = true;
    const size_t n = datos_.bloques();
    if (n == 0) {
        actualizar();
        return;
    }
    double t0 = datos_.bloque(0).t0 / 1000.0, t1 = datos_.bloque(n - 1).t1 / 1000.0;
    if (t1 - t0 < 1.0) {
        const double medio = (t0 + t1) / 2;
        t0 = medio - 0.5;
        t1 = medio + 0.5;
    }
    const double margen = (t1 - t0) * 0.01;
    DatosHistorial::Rango r;
    for (size_t i = 0; i < n; ++i) {
        const DatosHistorial::Bloque &b = datos_.bloque(i);
        r.unir(b.minimo, b.maximo);
        if (b.conSetPoint > 0)
            r.unir(b.spMinimo, b.spMaximo);
    }
    dibujando_ = true;
    xAxis->setRange(t0 - margen, t1 + margen);
    yAxis->setRange(std::max(0, r.minimo - 5), std::min(260, r.maximo + 5));
    dibujando_ = false;
    actualizar();
}

void GraficoHistorial::limitar()
{
    // Zoom and pan stop a margin past the data's ends; the values stay in what a count can be.
    const size_t n = datos_.bloques();
    dibujando_ = true;
    if (n > 0) {
        const double t0 = datos_.bloque(0).t0 / 1000.0, t1 = datos_.bloque(n - 1).t1 / 1000.0;
        const double margen = std::max(1.0, (t1 - t0) * 0.05);
        const double lo = t0 - margen, hi = t1 + margen;
        QCPRange r = xAxis->range();
        if (r.size() < 0.01)
            r = QCPRange(r.center() - 0.005, r.center() + 0.005);
        if (r.size() > hi - lo)
            r = QCPRange(lo, hi);
        else if (r.lower < lo)
            r = QCPRange(lo, lo + r.size());
        else if (r.upper > hi)
            r = QCPRange(hi - r.size(), hi);
        xAxis->setRange(r);
    }
    QCPRange y = yAxis->range();
    if (y.size() < 2)
        y = QCPRange(y.center() - 1, y.center() + 1);
    y = QCPRange(std::max(-10.0, y.lower), std::min(265.0, y.upper));
    yAxis->setRange(y);
    dibujando_ = false;
}

void GraficoHistorial::alCambiarRango()
{
    if (dibujando_)
        return;
    todo_ = false;
    limitar();
    actualizar();
}

void GraficoHistorial::recuadro(const QRect &r)
{
    if (r.width() < 3 || r.height() < 3)
        return;
    todo_ = false;
    dibujando_ = true;
    xAxis->setRange(xAxis->pixelToCoord(r.left()), xAxis->pixelToCoord(r.right()));
    yAxis->setRange(yAxis->pixelToCoord(r.bottom()), yAxis->pixelToCoord(r.top()));
    dibujando_ = false;
    limitar();
    actualizar();
}

void GraficoHistorial::actualizar()
{
    QElapsedTimer reloj;
    reloj.start();
    const QCPRange rango = xAxis->range();
    const int columnas = std::max(1, axisRect()->width());
    QVector<double> t, v, ts, s;
    const size_t n = datos_.bloques();
    xAxis->setTickLabels(n > 0);
    exacto_ = false;
    if (n > 0) {
        const QDate d0 = QDateTime::fromMSecsSinceEpoch(qint64(rango.lower * 1000)).date();
        const QDate d1 = QDateTime::fromMSecsSinceEpoch(qint64(rango.upper * 1000)).date();
        const QString fecha = QLocale().dateFormat(QLocale::ShortFormat);
        const QString hora = formatoHora(rango.size() < 20);
        ticker_->formato = d0 != d1 ? fecha + u'\n' + hora : hora;

        const size_t i0 = datos_.bloqueEn(int64_t(std::floor(rango.lower * 1000)));
        size_t i1 = i0;
        while (i1 < n && datos_.bloque(i1).t0 <= rango.upper * 1000 && i1 - i0 <= size_t(columnas))
            ++i1;
        if (i1 - i0 <= size_t(columnas)) {
            // Few enough blocks to draw from their samples, with one each side so the lines
            // reach the edges.
            const size_t a = i0 > 0 ? i0 - 1 : 0, b = std::min(n, i1 + 1);
            std::vector<size_t> faltan;
            for (size_t i = a; i < b; ++i)
                if (!datos_.crudas(i))
                    faltan.push_back(i);
            if (!faltan.empty()) {
                emit pedirBloques(faltan);
            } else {
                exacto_ = true;
                std::vector<const DatosHistorial::Cruda *> vistas;
                std::vector<bool> cortes;
                for (size_t i = a; i < b; ++i) {
                    const auto &c = *datos_.crudas(i);
                    for (size_t k = 0; k < c.size(); ++k) {
                        vistas.push_back(&c[k]);
                        cortes.push_back(k == 0 && datos_.bloque(i).sesion);
                    }
                }
                // Samples from the one before the view to the one after it.
                size_t p = 0, q = vistas.size();
                while (p + 1 < q && vistas[p + 1]->ms < rango.lower * 1000)
                    ++p;
                while (q > p + 1 && vistas[q - 2]->ms > rango.upper * 1000)
                    --q;
                if (q - p <= size_t(columnas)) {
                    const bool sueltas = (q - p) * 8 < size_t(columnas);
                    const QCPScatterStyle punto(sueltas ? QCPScatterStyle::ssDisc
                                                        : QCPScatterStyle::ssNone, 4);
                    valor_->setScatterStyle(punto);
                    setPoint_->setScatterStyle(punto);
                    for (size_t k = p; k < q; ++k) {
                        const double x = vistas[k]->ms / 1000.0;
                        if (cortes[k] && k > p) {
                            t << x;
                            v << qQNaN();
                            ts << x;
                            s << qQNaN();
                        }
                        t << x;
                        v << vistas[k]->valor;
                        ts << x;
                        s << (vistas[k]->setPoint == DatosHistorial::sinSetPoint
                                  ? qQNaN() : double(vistas[k]->setPoint));
                    }
                } else {
                    // A column each pixel, exact: the least and greatest of its samples.
                    std::vector<DatosHistorial::Columna> cols(static_cast<size_t>(columnas));
                    const double paso = rango.size() / columnas;
                    int ultima = -1;
                    for (size_t k = p; k < q; ++k) {
                        const int c = int((vistas[k]->ms / 1000.0 - rango.lower) / paso);
                        if (c < 0 || c >= columnas)
                            continue;
                        auto &col = cols[size_t(c)];
                        if (cortes[k] && ultima >= 0 && ultima < c)
                            col.corte = true;
                        col.valor.unir(vistas[k]->valor, vistas[k]->valor);
                        if (vistas[k]->setPoint != DatosHistorial::sinSetPoint)
                            col.setPoint.unir(vistas[k]->setPoint, vistas[k]->setPoint);
                        ultima = c;
                    }
                    for (int c = 0; c < columnas; ++c)
                        cols[size_t(c)].t = rango.lower + paso * (c + 0.5);
                    valor_->setScatterStyle(QCPScatterStyle::ssNone);
                    setPoint_->setScatterStyle(QCPScatterStyle::ssNone);
                    puntos(cols, t, v, ts, s);
                }
            }
        }
        if (!exacto_) {
            valor_->setScatterStyle(QCPScatterStyle::ssNone);
            setPoint_->setScatterStyle(QCPScatterStyle::ssNone);
            puntos(datos_.columnas(rango.lower, rango.upper, columnas), t, v, ts, s);
        }
    }
    valor_->setData(t, v, true);
    setPoint_->setData(ts, s, true);
    cursores_->actualizar();
    replot(QCustomPlot::rpImmediateRefresh);
    msFotograma_ = reloj.nsecsElapsed() / 1e6;
}

void GraficoHistorial::mousePressEvent(QMouseEvent *event)
{
    if (cursores_->pulsar(event))
        return;
    const bool caja = event->button() == Qt::RightButton
                      || (event->modifiers() & Qt::ShiftModifier);
    setSelectionRectMode(caja ? QCP::srmCustom : QCP::srmNone);
    QCustomPlot::mousePressEvent(event);
}

void GraficoHistorial::mouseReleaseEvent(QMouseEvent *event)
{
    if (cursores_->soltar(event))
        return;
    QCustomPlot::mouseReleaseEvent(event);
}

void GraficoHistorial::keyPressEvent(QKeyEvent *event)
{
    if (!cursores_->tecla(event))
        QCustomPlot::keyPressEvent(event);
}

void GraficoHistorial::mouseMoveEvent(QMouseEvent *event)
{
    if (cursores_->mover(event))
        return;
    QCustomPlot::mouseMoveEvent(event);
    if (datos_.cuantos() == 0 || !axisRect()->rect().contains(event->position().toPoint())) {
        emit cursor(std::nullopt);
        return;
    }
    uint64_t i = 0;
    std::vector<size_t> faltan;
    if (datos_.cercana(int64_t(std::llround(xAxis->pixelToCoord(event->position().x()) * 1000)),
                       i, faltan))
        emit cursor(i);
    else {
        emit pedirBloques(faltan);
        emit cursor(std::nullopt);
    }
}
