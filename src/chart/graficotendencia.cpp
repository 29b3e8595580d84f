#include "graficotendencia.h"

#include <algorithm>

#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QToolTip>

#include "chart/ventanamuestras.h"

// Hand-set scale: exactly the divisions asked for. Automatic: QCustomPlot's readable steps.
class TickerY : public QCPAxisTicker
{
public:
    bool manual = true;
    QVector<double> ticksManuales;

protected:
    QVector<double> createTickVector(double tickStep, const QCPRange &range) override
    {
        return manual ? ticksManuales : QCPAxisTicker::createTickVector(tickStep, range);
    }
    int getSubTickCount(double tickStep) override
    {
        // One minor division per major one: no minor ticks.
        return manual ? 0 : QCPAxisTicker::getSubTickCount(tickStep);
    }
};

GraficoTendencia::GraficoTendencia(const VentanaMuestras &ventana, QWidget *parent)
    : QCustomPlot(parent), ventana_(ventana)
{
    setObjectName(QStringLiteral("MSChart1"));
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    setNoAntialiasingOnDrag(true);
    setNotAntialiasedElements(QCP::aeAll);
    setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    // One paint buffer instead of one per buffered layer: every extra buffer is another
    // full-size clear and alpha blend per frame.
    if (QCPLayer *overlay = layer(QStringLiteral("overlay")))
        overlay->setMode(QCPLayer::lmLogical);
    setAttribute(Qt::WA_OpaquePaintEvent);

    serieDato_ = addGraph();
    serieDato_->setName(QStringLiteral("Valor"));
    serieDato_->setPen(QPen(QColor(0, 90, 200), 1));
    serieSetPoint_ = addGraph();
    serieSetPoint_->setName(QStringLiteral("Set Point"));
    serieSetPoint_->setPen(QPen(QColor(220, 60, 0), 1, Qt::DashLine));

    legend->setVisible(true);
    legend->setFont(font());
    legend->setRowSpacing(0);
    legend->setIconSize(18, 8);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);

    auto ticker = QSharedPointer<TickerY>::create();
    ticker_ = ticker.data();
    yAxis->setTicker(ticker);
    xAxis->ticker()->setTickCount(8);

    temporizador_.setSingleShot(true);
    temporizador_.setInterval(intervaloRedibujoMs);
    connect(&temporizador_, &QTimer::timeout, this, &GraficoTendencia::redibujar);

    actualizarEje();
}

GraficoTendencia::~GraficoTendencia() = default;

void GraficoTendencia::setAuto(bool automatica)
{
    escala_.Auto = automatica;
    redibujarPronto();
}

void GraficoTendencia::setMaximum(double maximo)
{
    escala_.Maximum = maximo;
    redibujarPronto();
}

void GraficoTendencia::setMajorDivision(int16_t divisiones)
{
    escala_.MajorDivision = divisiones;
    redibujarPronto();
}

void GraficoTendencia::redibujarPronto()
{
    if (!temporizador_.isActive())
        temporizador_.start();
}

void GraficoTendencia::redibujar()
{
    temporizador_.stop();
    emit antesDeRedibujar();
    actualizarSeries();
    actualizarEje();
    replot(QCustomPlot::rpQueuedRefresh);
    ++redibujos_;
}

void GraficoTendencia::actualizarSeries()
{
    if (ventana_.cambios() == cambiosDibujados_)
        return;
    cambiosDibujados_ = ventana_.cambios();
    const int filas = ventana_.RowCount();
    auto dato = serieDato_->data();
    auto setPoint = serieSetPoint_->data();
    if (dato->size() != filas) {
        // A new length: lay the keys out once; later draws only overwrite the values.
        QVector<QCPGraphData> ceros(filas);
        for (int i = 0; i < filas; ++i)
            ceros[i] = QCPGraphData(i + 1, 0.0);
        dato->set(ceros, true);
        setPoint->set(ceros, true);
    }
    auto d = dato->begin();
    auto s = setPoint->begin();
    for (int fila = 1; fila <= filas; ++fila, ++d, ++s) {
        const VentanaMuestras::Fila f = ventana_.fila(fila);
        d->value = f.dato;
        s->value = f.setPoint;
    }
    xAxis->setRange(1, std::max(2, filas));
}

void GraficoTendencia::actualizarEje()
{
    if (escala_.Auto) {
        ticker_->manual = false;
        int minimo = INT16_MAX;
        int maximo = INT16_MIN;
        for (int fila = 1; fila <= ventana_.RowCount(); ++fila) {
            const VentanaMuestras::Fila f = ventana_.fila(fila);
            minimo = std::min({minimo, int(f.dato), int(f.setPoint)});
            maximo = std::max({maximo, int(f.dato), int(f.setPoint)});
        }
        if (ventana_.RowCount() == 0)
            minimo = maximo = 0;
        const escalay::Rango rango = escalay::rangoAutomatico(minimo, maximo);
        yAxis->setRange(rango.inferior, rango.superior);
    } else {
        ticker_->manual = true;
        ticker_->ticksManuales = escalay::ticksManuales(escala_);
        const escalay::Rango rango = escalay::rangoManual(escala_);
        yAxis->setRange(rango.inferior, rango.superior);
    }
}

QString GraficoTendencia::guardarImagen(const QString &ruta)
{
    redibujar();
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly))
        return archivo.errorString();
    if (!toPixmap().save(&archivo, "PNG"))
        return tr("no se pudo escribir la imagen");
    return QString();
}

void GraficoTendencia::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *guardar = menu.addAction(QStringLiteral("Guardar imagen..."));
    if (menu.exec(event->globalPos()) != guardar)
        return;
    QString ruta = QFileDialog::getSaveFileName(this, QStringLiteral("Guardar imagen"),
                                                QString(), QStringLiteral("PNG (*.png)"));
    if (ruta.isEmpty())
        return;
    if (!ruta.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        ruta += QStringLiteral(".png");
    const QString fallo = guardarImagen(ruta);
    if (!fallo.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Velmora"),
                             QStringLiteral("No se pudo guardar la imagen en %1: %2.")
                                 .arg(QDir::toNativeSeparators(ruta), fallo));
}

void GraficoTendencia::mouseMoveEvent(QMouseEvent *event)
{
    QCustomPlot::mouseMoveEvent(event);
    const int fila = qRound(xAxis->pixelToCoord(event->position().x()));
    if (!axisRect()->rect().contains(event->position().toPoint()) || fila < 1
        || fila > ventana_.RowCount()) {
        QToolTip::hideText();
        return;
    }
    const VentanaMuestras::Fila f = ventana_.fila(fila);
    QToolTip::showText(event->globalPosition().toPoint(),
                       QStringLiteral("Fila %1\nValor: %2\nSet Point: %3")
                           .arg(fila).arg(f.dato).arg(f.setPoint),
                       this);
}
