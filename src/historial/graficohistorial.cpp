#include "graficohistorial.h"

#include <QDateTime>
#include <QElapsedTimer>

#include "historial/datoshistorial.h"

GraficoHistorial::GraficoHistorial(const DatosHistorial &datos, QWidget *parent)
    : QCustomPlot(parent), datos_(datos), ticker_(new QCPAxisTickerDateTime)
{
    setObjectName(QStringLiteral("graficoHistorial"));
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
    ticker_->setDateTimeSpec(Qt::LocalTime);
    ticker_->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    xAxis->setTicker(ticker_);
    yAxis->setLabel(QStringLiteral("Cuentas"));
    legend->setVisible(true);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Time is what one looks along: the wheel and a drag move the time only.
    axisRect()->setRangeDragAxes(xAxis, nullptr);
    axisRect()->setRangeZoomAxes(xAxis, nullptr);
    selectionRect()->setPen(QPen(Qt::black, 1, Qt::DashLine));
    connect(xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &GraficoHistorial::alCambiarRango);
    yAxis->setRange(0, 255);
    // Until the file says otherwise, the last minute rather than 1970.
    const double ahora = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    dibujando_ = true;
    xAxis->setRange(ahora - 60, ahora);
    dibujando_ = false;
}

void GraficoHistorial::verTodo()
{
    todo_ = true;
    const size_t n = datos_.cuantos();
    if (n == 0) {
        actualizar();
        return;
    }
    double t0 = datos_.ms(0) / 1000.0, t1 = datos_.ms(n - 1) / 1000.0;
    if (t1 - t0 < 1.0) {
        const double medio = (t0 + t1) / 2;
        t0 = medio - 0.5;
        t1 = medio + 0.5;
    }
    const double margen = (t1 - t0) * 0.01;
    dibujando_ = true;
    xAxis->setRange(t0 - margen, t1 + margen);
    dibujando_ = false;
    DatosHistorial::Rango r = datos_.rangoValor(0, n);
    const DatosHistorial::Rango s = datos_.rangoSetPoint(0, n);
    r.minimo = std::min(r.minimo, s.minimo);
    r.maximo = std::max(r.maximo, s.vacio() ? r.maximo : s.maximo);
    yAxis->setRange(std::max(0, r.minimo - 5), std::min(260, r.maximo + 5));
    actualizar();
}

void GraficoHistorial::alCambiarRango()
{
    if (dibujando_)
        return;
    todo_ = false;
    actualizar();
}

void GraficoHistorial::actualizar()
{
    QElapsedTimer reloj;
    reloj.start();
    const QCPRange rango = xAxis->range();
    const double ancho = rango.size();
    ticker_->setDateTimeFormat(ancho < 20      ? QStringLiteral("HH:mm:ss.zzz")
                               : ancho < 86400 ? QStringLiteral("HH:mm:ss")
                                               : QStringLiteral("d/M HH:mm"));
    const int columnas = std::max(1, axisRect()->width());
    QVector<double> t, v, ts, s;
    const size_t a = datos_.desde(int64_t(std::floor(rango.lower * 1000)));
    const size_t b = datos_.desde(int64_t(std::ceil(rango.upper * 1000)) + 1);
    const bool muestras = b - a <= size_t(columnas);
    // Samples far apart get a dot each: a lone one draws no line.
    const QCPScatterStyle punto(muestras && (b - a) * 8 < size_t(columnas)
                                    ? QCPScatterStyle::ssDisc
                                    : QCPScatterStyle::ssNone,
                                4);
    valor_->setScatterStyle(punto);
    setPoint_->setScatterStyle(punto);
    if (muestras) {
        // Few enough to draw each sample, with one each side so the lines reach the edges.
        const size_t desde = a > 0 ? a - 1 : 0;
        const size_t hasta = std::min(datos_.cuantos(), b + 1);
        for (size_t i = desde; i < hasta; ++i) {
            const double x = datos_.ms(i) / 1000.0;
            t << x;
            v << datos_.valor(i);
            ts << x;
            s << (datos_.setPoint(i) == LectorLineas::sinSetPoint ? qQNaN()
                                                                  : double(datos_.setPoint(i)));
        }
    } else {
        for (const DatosHistorial::Columna &c : datos_.columnas(rango.lower, rango.upper,
                                                               columnas)) {
            if (c.valor.vacio())
                continue; // no sample in it: the lines go straight across
            t << c.t << c.t;
            v << c.valor.minimo << c.valor.maximo;
            ts << c.t << c.t;
            if (c.setPoint.vacio())
                s << qQNaN() << qQNaN();
            else
                s << c.setPoint.minimo << c.setPoint.maximo;
        }
    }
    valor_->setData(t, v, true);
    setPoint_->setData(ts, s, true);
    replot(QCustomPlot::rpImmediateRefresh);
    msFotograma_ = reloj.nsecsElapsed() / 1e6;
}

void GraficoHistorial::mousePressEvent(QMouseEvent *event)
{
    const bool caja = event->button() == Qt::RightButton
                      || (event->modifiers() & Qt::ShiftModifier);
    setSelectionRectMode(caja ? QCP::srmZoom : QCP::srmNone);
    QCustomPlot::mousePressEvent(event);
}

void GraficoHistorial::mouseMoveEvent(QMouseEvent *event)
{
    QCustomPlot::mouseMoveEvent(event);
    const size_t n = datos_.cuantos();
    if (n == 0 || !axisRect()->rect().contains(event->position().toPoint())) {
        emit cursor(std::nullopt);
        return;
    }
    const int64_t ms = int64_t(std::llround(xAxis->pixelToCoord(event->position().x()) * 1000));
    size_t i = datos_.desde(ms);
    if (i == n || (i > 0 && ms - datos_.ms(i - 1) < datos_.ms(i) - ms))
        i = i > 0 ? i - 1 : 0;
    emit cursor(i);
}
