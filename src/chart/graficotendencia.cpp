#include "graficotendencia.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QMessageBox>
#include <QToolTip>

#include "chart/ventanamuestras.h"

namespace {
const QColor colorCorte(150, 150, 150);
} // namespace

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
    setNotAntialiasedElements(QCP::aeAll);
    setPlottingHints(QCP::phCacheLabels);
    // One paint buffer for everything QCustomPlot draws: every buffer is another full-size
    // clear and alpha blend.
    if (QCPLayer *overlay = layer(QStringLiteral("overlay")))
        overlay->setMode(QCPLayer::lmLogical);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // The series hold the data and give the legend its entries; their layer is never drawn
    // by QCustomPlot: paintEvent draws them.
    addLayer(QStringLiteral("series"), layer(QStringLiteral("overlay")), QCustomPlot::limAbove);
    QCPLayer *capaSeries = layer(QStringLiteral("series"));
    capaSeries->setMode(QCPLayer::lmLogical);
    capaSeries->setVisible(false);
    setCurrentLayer(capaSeries);
    serieDato_ = addGraph();
    serieDato_->setName(QStringLiteral("Valor"));
    serieDato_->setPen(QPen(QColor(0, 90, 200), 1));
    serieSetPoint_ = addGraph();
    serieSetPoint_->setName(QStringLiteral("Set Point"));
    serieSetPoint_->setPen(QPen(QColor(220, 60, 0), 1, Qt::DashLine));

    setCurrentLayer(QStringLiteral("main"));

    // The legend in a row of its own above the plot, where the series never cross it: with
    // nothing drawn over the series, the whole picture takes two paint buffers.
    legend->setVisible(true);
    legend->setFont(font());
    legend->setIconSize(18, 8);
    legend->setBorderPen(Qt::NoPen);
    legend->setBrush(Qt::NoBrush);
    legend->setMargins(QMargins(4, 2, 4, 0));
    legend->setFillOrder(QCPLegend::foColumnsFirst);
    auto *filaLeyenda = new QCPLayoutGrid;
    plotLayout()->insertRow(0);
    plotLayout()->addElement(0, 0, filaLeyenda);
    plotLayout()->setRowStretchFactor(0, 0.001);
    filaLeyenda->addElement(0, 0, legend);
    filaLeyenda->addElement(0, 1, new QCPLayoutElement(this)); // keeps the legend at the left
    filaLeyenda->setColumnStretchFactor(0, 0.001);

    Cursores::Muestras m;
    // The row of sample number i; one that has left the trend stays at the oldest row.
    const auto fila = [this](uint64_t i) {
        const int filas = ventana_.RowCount();
        const uint64_t total = ventana_.muestras();
        const int conDato = int(std::min<uint64_t>(total, uint64_t(filas)));
        if (i >= total || conDato == 0)
            return 0;
        return std::max(filas - conDato + 1, filas - int(std::min<uint64_t>(total - 1 - i, uint64_t(filas))));
    };
    m.x = [fila](uint64_t i) -> std::optional<double> {
        if (const int f = fila(i))
            return f;
        return std::nullopt;
    };
    m.cercana = [this](double x) -> std::optional<uint64_t> {
        const int filas = ventana_.RowCount();
        const uint64_t total = ventana_.muestras();
        const int conDato = int(std::min<uint64_t>(total, uint64_t(filas)));
        if (conDato == 0)
            return std::nullopt;
        const int f = std::clamp(int(std::lround(x)), filas - conDato + 1, filas);
        return total - 1 - uint64_t(filas - f);
    };
    m.cuantos = [this] { return ventana_.muestras(); };
    cursores_ = new Cursores(*this, m);
    cursores_->dibujarAparte(capaSeries);
    connect(cursores_, &Cursores::cambiado, this, [this] { update(); });

    auto ticker = QSharedPointer<TickerY>::create();
    ticker_ = ticker.data();
    yAxis->setTicker(ticker);
    xAxis->ticker()->setTickCount(8);

    temporizador_.setSingleShot(true);
    temporizador_.setTimerType(Qt::PreciseTimer);
    connect(&temporizador_, &QTimer::timeout, this, &GraficoTendencia::fotograma);
    connect(this, &QCustomPlot::afterReplot, this, &GraficoTendencia::guardarFondo);

    aplicarEscala();
}


void GraficoTendencia::setAuto(bool automatica)
{
    escala_.Auto = automatica;
    aplicarEscala();
}

void GraficoTendencia::setMaximum(double maximo)
{
    escala_.Maximum = maximo;
    aplicarEscala();
}

void GraficoTendencia::setMajorDivision(int16_t divisiones)
{
    escala_.MajorDivision = divisiones;
    aplicarEscala();
}

void GraficoTendencia::redibujarPronto()
{
    if (temporizador_.isActive())
        return;
    // A steady cadence while samples keep coming: the next frame one interval after the
    // last one started, not one interval after this call.
    const qint64 pasado = desdeFotograma_.isValid() ? desdeFotograma_.elapsed() : intervaloRedibujoMs;
    temporizador_.start(int(std::clamp<qint64>(intervaloRedibujoMs - pasado, 0, intervaloRedibujoMs)));
}

void GraficoTendencia::redibujar()
{
    temporizador_.stop();
    pendienteAlMostrar_ = false;
    desdeFotograma_.start();
    emit antesDeRedibujar();
    dibujar();
}

bool GraficoTendencia::oculto() const
{
    return !isVisible() || window()->isMinimized();
}

void GraficoTendencia::fotograma()
{
    // Nobody can see it: no frame, and the picture is brought up to date when shown again.
    if (oculto()) {
        pendienteAlMostrar_ = true;
        return;
    }
    // Started first: samples read just before this frame ask for the next one a whole
    // interval from now.
    desdeFotograma_.start();
    emit pedirDatos();
    emit antesDeFotograma();
    dibujar();
}

void GraficoTendencia::showEvent(QShowEvent *event)
{
    QCustomPlot::showEvent(event);
    // The window's minimising and restoring reach the chart here.
    window()->removeEventFilter(this);
    window()->installEventFilter(this);
    if (pendienteAlMostrar_)
        redibujar();
}

bool GraficoTendencia::eventFilter(QObject *objeto, QEvent *evento)
{
    if (evento->type() == QEvent::WindowStateChange && pendienteAlMostrar_ && !oculto())
        redibujar(); // up to date the moment it is seen again
    return QCustomPlot::eventFilter(objeto, evento);
}

void GraficoTendencia::dibujar()
{
    actualizarSeries();
    if (escala_.Auto)
        actualizarRangoAutomatico();
    seguirEscalaPantalla();
    const Marco marco = marcoActual();
    if (marco == marcoDibujado_) {
        calcularPuntos();
        update(axisRect()->rect().adjusted(0, 0, 1, 1));
    } else {
        replot(QCustomPlot::rpQueuedRefresh); // repaints the whole widget
        marcoDibujado_ = marco;
        calcularPuntos();
    }
    ++redibujos_;
}

void GraficoTendencia::guardarFondo()
{
    // As many pixels as the screen has: QCustomPlot's buffers are drawn at this ratio, and a
    // picture made at size() would be stretched, and blurred, on a scaled screen.
    const double escala = bufferDevicePixelRatio();
    if (fondo_.size() != size() * escala || fondo_.devicePixelRatio() != escala) {
        fondo_ = QImage(size() * escala, QImage::Format_RGB32);
        fondo_.setDevicePixelRatio(escala);
    }
    fondo_.fill(Qt::white);
    QCPPainter pintor(&fondo_);
    for (const auto &buffer : std::as_const(mPaintBuffers))
        buffer->draw(&pintor);
}

void GraficoTendencia::calcularPuntos()
{
    // On their samples as the rows slide; one whose sample has gone stays at the oldest.
    const uint64_t total = ventana_.muestras();
    cursores_->limitar(total - std::min<uint64_t>(total, uint64_t(ventana_.RowCount())));
    cursores_->actualizar();
    // Row numbers and values to pixels. A point between two of the same height on a level
    // stretch adds nothing to the line: a steady set point is drawn as one segment. A row
    // with no value (NaN), or the first after a break, ends a stretch.
    const auto aPixeles = [this](const QCPGraph &serie, QVector<QPoint> &puntos,
                                 QVector<qsizetype> &tramos) {
        puntos.resize(0);
        tramos.resize(0);
        qsizetype inicio = 0;
        auto corte = filasCorte_.cbegin();
        const QCPAxis &x = *xAxis;
        const QCPAxis &y = *yAxis;
        for (const QCPGraphData &d : *serie.data()) {
            bool cortado = false;
            for (; corte != filasCorte_.cend() && *corte <= d.key; ++corte)
                cortado = true;
            if ((std::isnan(d.value) || cortado) && puntos.size() > inicio)
                tramos.append(inicio = puntos.size());
            if (std::isnan(d.value))
                continue;
            const QPoint p(qRound(x.coordToPixel(d.key)), qRound(y.coordToPixel(d.value)));
            const qsizetype n = puntos.size();
            if (n - inicio >= 2 && puntos[n - 1].y() == p.y() && puntos[n - 2].y() == p.y())
                puntos[n - 1] = p;
            else
                puntos.append(p);
        }
        if (puntos.size() > inicio)
            tramos.append(puntos.size());
    };
    aPixeles(*serieDato_, puntosDato_, tramosDato_);
    aPixeles(*serieSetPoint_, puntosSetPoint_, tramosSetPoint_);
}

bool GraficoTendencia::seguirEscalaPantalla()
{
    const double escala = devicePixelRatioF();
    if (qFuzzyCompare(bufferDevicePixelRatio(), escala))
        return false;
    setBufferDevicePixelRatio(escala);
    return true;
}

void GraficoTendencia::paintEvent(QPaintEvent *event)
{
    // The window went to a screen of another scale: everything is drawn anew at it.
    if (seguirEscalaPantalla())
        replot(QCustomPlot::rpQueuedRefresh); // the picture is kept in guardarFondo
    const double escala = bufferDevicePixelRatio();
    if (fondo_.size() != size() * escala || fondo_.devicePixelRatio() != escala)
        guardarFondo();
    QPainter pintor(this);
    // The source is in the picture's own pixels.
    const QRectF r(event->rect());
    pintor.drawImage(r, fondo_, QRectF(r.topLeft() * escala, r.size() * escala));
    const QRect area = axisRect()->rect();
    pintor.setClipRect(area.adjusted(0, 0, 1, 1));
    // A thin mark where the samples stopped; its tooltip says what it was.
    pintor.setPen(QPen(colorCorte, 1, Qt::DotLine));
    for (const int fila : std::as_const(filasCorte_)) {
        const int x = qRound(xAxis->coordToPixel(fila - 0.5));
        pintor.drawLine(x, area.top(), x, area.bottom());
    }
    const auto lineas = [&pintor](const QVector<QPoint> &puntos, const QVector<qsizetype> &tramos) {
        qsizetype inicio = 0;
        for (const qsizetype fin : tramos) {
            pintor.drawPolyline(puntos.constData() + inicio, int(fin - inicio));
            inicio = fin;
        }
    };
    pintor.setPen(serieDato_->pen());
    lineas(puntosDato_, tramosDato_);
    pintor.setPen(serieSetPoint_->pen());
    lineas(puntosSetPoint_, tramosSetPoint_);
    if (cursores_->visible()) {
        const std::array<QColor, 2> colores{QColor(0, 140, 60), QColor(150, 0, 170)};
        for (int c = 0; c < 2; ++c) {
            const int x = qRound(xAxis->coordToPixel(cursores_->x(c)));
            pintor.setPen(QPen(colores[size_t(c)], 1, Qt::DashLine));
            pintor.drawLine(x, area.top(), x, area.bottom());
            pintor.drawText(x + 3, area.top() + 12, c == 0 ? QStringLiteral("A") : QStringLiteral("B"));
        }
        if (const QString texto = lineaCursores(); !texto.isEmpty()) {
            pintor.setPen(Qt::black);
            pintor.drawText(area.adjusted(4, 2, -4, -2), Qt::AlignLeft | Qt::AlignBottom, texto);
        }
    }
    if (!nota_.isEmpty()) {
        pintor.setPen(QColor(140, 140, 140));
        pintor.drawText(axisRect()->rect().adjusted(20, 20, -20, -20),
                        Qt::AlignCenter | Qt::TextWordWrap, nota_);
    }
}

void GraficoTendencia::setNota(const QString &nota)
{
    if (nota == nota_)
        return;
    nota_ = nota;
    update();
}

void GraficoTendencia::actualizarSeries()
{
    if (ventana_.cambios() == cambiosDibujados_)
        return;
    cambiosDibujados_ = ventana_.cambios();
    const int filas = ventana_.RowCount();
    filasCorte_.resize(0);
    ventana_.cortesVisibles([this](int fila, const VentanaMuestras::Corte &) { filasCorte_.append(fila); });
    const int columnas = std::max(1, axisRect()->width());
    // More rows than pixel columns: each column keeps its lowest and highest point, in the
    // order they came, which is what can be seen of it, and the chart draws a few thousand
    // points instead of tens of thousands.
    const bool reducir = filas > 2 * columnas;
    const int puntos = reducir ? 2 * columnas : filas;
    auto dato = serieDato_->data();
    auto setPoint = serieSetPoint_->data();
    if (dato->size() != puntos) {
        const QVector<QCPGraphData> ceros(puntos);
        dato->set(ceros, true);
        setPoint->set(ceros, true);
    }
    xAxis->setRange(1, std::max(2, filas));
    if (puntos == 0)
        return;
    QCPGraphData *d = &*dato->begin();
    QCPGraphData *s = &*setPoint->begin();
    if (!reducir) {
        for (int fila = 1; fila <= filas; ++fila) {
            const VentanaMuestras::Fila f = ventana_.fila(fila);
            *d++ = QCPGraphData(fila, f.conDato() ? f.dato : qQNaN());
            *s++ = QCPGraphData(fila, f.conSetPoint() ? f.setPoint : qQNaN());
        }
    } else {
        const auto extremos = [](QCPGraphData *&salida, int filaMin, double min, int filaMax,
                                 double max) {
            if (filaMax < filaMin) {
                std::swap(filaMin, filaMax);
                std::swap(min, max);
            }
            *salida++ = QCPGraphData(filaMin, min);
            *salida++ = QCPGraphData(filaMax, max);
        };
        for (int c = 0; c < columnas; ++c) {
            const int desde = 1 + int(int64_t(c) * filas / columnas);
            const int hasta = int(int64_t(c + 1) * filas / columnas);
            int dMin = INT16_MAX, dMax = INT16_MIN, sMin = INT16_MAX, sMax = INT16_MIN;
            int fdMin = desde, fdMax = desde, fsMin = desde, fsMax = desde;
            for (int fila = desde; fila <= hasta; ++fila) {
                const VentanaMuestras::Fila f = ventana_.fila(fila);
                if (!f.conDato())
                    continue; // a fill's row: no sample, and so no set point either
                if (f.dato < dMin) { dMin = f.dato; fdMin = fila; }
                if (f.dato > dMax) { dMax = f.dato; fdMax = fila; }
                if (!f.conSetPoint())
                    continue;
                if (f.setPoint < sMin) { sMin = f.setPoint; fsMin = fila; }
                if (f.setPoint > sMax) { sMax = f.setPoint; fsMax = fila; }
            }
            const auto vacia = [desde, hasta](QCPGraphData *&salida) {
                *salida++ = QCPGraphData(desde, qQNaN());
                *salida++ = QCPGraphData(hasta, qQNaN());
            };
            if (dMax >= dMin)
                extremos(d, fdMin, dMin, fdMax, dMax);
            else
                vacia(d);
            if (sMax >= sMin)
                extremos(s, fsMin, sMin, fsMax, sMax);
            else
                vacia(s);
        }
    }
}

void GraficoTendencia::aplicarEscala()
{
    // Ticks and range of the hand-set axis change only here, not with every frame.
    ticker_->manual = !escala_.Auto;
    if (!escala_.Auto) {
        ticker_->ticksManuales = escalay::ticksManuales(escala_);
        const escalay::Rango rango = escalay::rangoManual(escala_);
        yAxis->setRange(rango.inferior, rango.superior);
    }
    ++versionEscala_;
    redibujarPronto();
}

void GraficoTendencia::actualizarRangoAutomatico()
{
    // The points drawn keep every column's extremes, so their range is the data's.
    double minimo = 0.0;
    double maximo = 0.0;
    bool vacio = true;
    for (const QCPGraph *serie : {serieDato_, serieSetPoint_}) {
        for (const QCPGraphData &p : *serie->data()) {
            if (std::isnan(p.value))
                continue;
            minimo = vacio ? p.value : std::min(minimo, p.value);
            maximo = vacio ? p.value : std::max(maximo, p.value);
            vacio = false;
        }
    }
    const escalay::Rango rango = escalay::rangoAutomatico(minimo, maximo);
    yAxis->setRange(rango.inferior, rango.superior);
}

GraficoTendencia::Marco GraficoTendencia::marcoActual() const
{
    return {xAxis->range(), yAxis->range(), size(), bufferDevicePixelRatio(), versionEscala_};
}

QString GraficoTendencia::rutaPng(const QString &ruta)
{
    if (ruta.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        return ruta;
    return ruta + QStringLiteral(".png");
}

const QString GraficoTendencia::tituloX = QStringLiteral("Muestra (la más reciente, a la derecha)");
const QString GraficoTendencia::tituloY = QStringLiteral("Valor y set point (cuentas)");

QString GraficoTendencia::tituloImagen(const QString &origen, const QDateTime &cuando)
{
    return QStringLiteral("Velmora - Control PID · %1 · %2")
        .arg(origen.isEmpty() ? QStringLiteral("sin puerto abierto")
                              : QStringLiteral("puerto serial %1").arg(origen),
             cuando.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QImage GraficoTendencia::imagen(const QDateTime &cuando)
{
    redibujar();
    // What is on show, series included (QCustomPlot's own rendering leaves them out), in a
    // frame that says what it is: a title line above, the axes' titles beside and below.
    const QPixmap grafico = grab();
    const double escala = grafico.devicePixelRatio();
    const QFontMetrics medidas(font());
    const int linea = medidas.height() + 6;
    const QSize tamano(width() + linea, height() + 2 * linea);
    QImage imagen(tamano * escala, QImage::Format_RGB32);
    imagen.setDevicePixelRatio(escala);
    imagen.fill(Qt::white);
    QPainter pintor(&imagen);
    pintor.setFont(font());
    pintor.setPen(Qt::black);
    QFont negrita = font();
    negrita.setBold(true);
    pintor.setFont(negrita);
    pintor.drawText(QRect(linea, 0, width(), linea), Qt::AlignLeft | Qt::AlignVCenter,
                    tituloImagen(origen_, cuando));
    pintor.setFont(font());
    pintor.drawPixmap(linea, linea, grafico);
    const QRect area = axisRect()->rect().translated(linea, linea);
    pintor.drawText(QRect(area.left(), linea + height(), area.width(), linea), Qt::AlignCenter,
                    tituloX);
    pintor.save();
    pintor.translate(0, area.center().y());
    pintor.rotate(-90);
    pintor.drawText(QRect(-area.height() / 2, 0, area.height(), linea), Qt::AlignCenter, tituloY);
    pintor.restore();
    return imagen;
}

QString GraficoTendencia::guardarImagen(const QString &ruta)
{
    const QImage dibujo = imagen(QDateTime::currentDateTime());
    QFile archivo(rutaPng(ruta));
    if (!archivo.open(QIODevice::WriteOnly))
        return archivo.errorString();
    if (!dibujo.save(&archivo, "PNG"))
        return tr("no se pudo escribir la imagen");
    return QString();
}

namespace {

// Where the last image went: the next save dialog starts there.
QString &carpetaImagenes()
{
    static QString carpeta;
    return carpeta;
}

} // namespace

void GraficoTendencia::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *guardar = menu.addAction(QStringLiteral("Guardar imagen..."));
    QAction *respuesta = menu.addAction(QStringLiteral("Respuesta al escalón…"));
    menu.addSeparator();
    QAction *milisegundos = menu.addAction(QStringLiteral("Registro con milisegundos"));
    milisegundos->setCheckable(true);
    milisegundos->setChecked(milisegundos_);
    QAction *abrir = menu.addAction(QStringLiteral("Abrir registro…"));
    menu.addSeparator();
    QAction *cursores = menu.addAction(QStringLiteral("Cursores A y B"));
    cursores->setCheckable(true);
    cursores->setChecked(cursores_->visible());
    QAction *copiar = menu.addAction(QStringLiteral("Copiar las cifras de los cursores"));
    copiar->setEnabled(figurasCursores().has_value());
    const QAction *elegida = menu.exec(event->globalPos());
    if (elegida == cursores) {
        cursores_->setVisible(cursores->isChecked());
        setFocus();
    }
    if (elegida == copiar)
        QApplication::clipboard()->setText(textoCursores());
    if (elegida == respuesta)
        emit pedirRespuestaEscalon();
    if (elegida == milisegundos)
        emit cambiarMilisegundos(milisegundos->isChecked());
    if (elegida == abrir)
        emit pedirAbrirRegistro();
    if (elegida != guardar)
        return;
    const QString ruta = QFileDialog::getSaveFileName(
        this, QStringLiteral("Guardar imagen"), carpetaImagenes(), QStringLiteral("PNG (*.png)"));
    if (ruta.isEmpty())
        return;
    const QString fallo = guardarImagen(ruta);
    if (fallo.isEmpty())
        carpetaImagenes() = QFileInfo(rutaPng(ruta)).absolutePath();
    else
        QMessageBox::warning(this, QStringLiteral("Velmora"),
                             QStringLiteral("No se pudo guardar la imagen en %1: %2.")
                                 .arg(QDir::toNativeSeparators(rutaPng(ruta)), fallo));
}

std::optional<FigurasCursores> GraficoTendencia::figurasCursores() const
{
    const auto a = cursores_->indice(0), b = cursores_->indice(1);
    const int filas = ventana_.RowCount();
    const uint64_t total = ventana_.muestras();
    if (!cursores_->visible() || !a || !b || total == 0)
        return std::nullopt;
    // A cursor whose sample has left the trend measures from the oldest row on show.
    const int64_t primera = filas - int64_t(std::min<uint64_t>(total, uint64_t(filas))) + 1;
    const auto fila = [&](uint64_t i) {
        return std::max<int64_t>(primera, filas - int64_t(std::min<uint64_t>(total - 1 - i, uint64_t(filas))));
    };
    const int64_t fa = fila(std::min(*a, *b)), fb = fila(std::max(*a, *b));
    FigurasCursores f;
    f.minimo = INT16_MAX;
    f.maximo = INT16_MIN;
    for (int64_t r = fa; r <= fb; ++r) {
        const VentanaMuestras::Fila x = ventana_.fila(int(r));
        ++f.n;
        f.sumaValor += uint64_t(x.dato);
        f.sumaCuadrados += uint64_t(x.dato) * uint64_t(x.dato);
        f.minimo = std::min<int>(f.minimo, x.dato);
        f.maximo = std::max<int>(f.maximo, x.dato);
        if (x.conSetPoint()) {
            ++f.conSetPoint;
            f.sumaSetPoint += uint64_t(x.setPoint);
        }
    }
    const int ra = int(fila(*a)), rb = int(fila(*b));
    f.tB = (ventana_.tiempo(rb) - ventana_.tiempo(ra)) / 1e9; // from A
    f.valorA = ventana_.fila(ra).dato;
    f.valorB = ventana_.fila(rb).dato;
    return f;
}

QString GraficoTendencia::lineaCursores() const
{
    const auto f = figurasCursores();
    if (!f)
        return {};
    const QLocale l;
    return QStringLiteral("Δt %1 s  Δ %2  mín. %3  máx. %4  media %5  σ %6  SP %7  n %8  cada %9 s")
        .arg(l.toString(f->tB - f->tA, 'f', 3)).arg(f->valorB - f->valorA)
        .arg(f->minimo).arg(f->maximo).arg(l.toString(f->media(), 'f', 2))
        .arg(f->desviacion() ? l.toString(*f->desviacion(), 'f', 2) : QStringLiteral("—"))
        .arg(f->mediaSetPoint() ? l.toString(*f->mediaSetPoint(), 'f', 1) : QStringLiteral("—"))
        .arg(f->n)
        .arg(f->espaciado() ? l.toString(*f->espaciado(), 'f', 4) : QStringLiteral("—"));
}

QString GraficoTendencia::textoCursores() const
{
    const auto f = figurasCursores();
    if (!f)
        return {};
    // The steady clock the rows carry, as the time of day.
    using namespace std::chrono;
    const auto desfase = duration_cast<milliseconds>(system_clock::now().time_since_epoch())
                         - duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    const int filas = ventana_.RowCount();
    const uint64_t total = ventana_.muestras();
    const int primera = filas - int(std::min<uint64_t>(total, uint64_t(filas))) + 1;
    const auto hora = [&](uint64_t i) {
        const int fila = std::max(primera, filas - int(std::min<uint64_t>(total - 1 - i, uint64_t(filas))));
        const qint64 ms = ventana_.tiempo(fila) / 1000000 + desfase.count();
        return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).time(),
                                  QLocale().timeFormat(QLocale::LongFormat).remove(u't').trimmed());
    };
    return f->texto(hora(*cursores_->indice(0)), hora(*cursores_->indice(1)));
}

void GraficoTendencia::mousePressEvent(QMouseEvent *event)
{
    if (cursores_->pulsar(event))
        setFocus(); // the arrows move it now
    else
        QCustomPlot::mousePressEvent(event);
}

void GraficoTendencia::mouseReleaseEvent(QMouseEvent *event)
{
    if (!cursores_->soltar(event))
        QCustomPlot::mouseReleaseEvent(event);
}

void GraficoTendencia::keyPressEvent(QKeyEvent *event)
{
    if (!cursores_->tecla(event))
        QCustomPlot::keyPressEvent(event);
}

QString GraficoTendencia::textoCorte(double x) const
{
    QString texto;
    ventana_.cortesVisibles([&](int fila, const VentanaMuestras::Corte &c) {
        if (std::abs(xAxis->coordToPixel(fila - 0.5) - x) <= 3.0)
            texto = QStringLiteral("Corte: %1 s sin muestras; %2")
                        .arg(QLocale().toString(double(c.segundos), 'f', 1), c.motivo);
    });
    return texto;
}

void GraficoTendencia::mouseMoveEvent(QMouseEvent *event)
{
    if (cursores_->mover(event))
        return;
    QCustomPlot::mouseMoveEvent(event);
    if (const QString corte = textoCorte(event->position().x());
        !corte.isEmpty() && axisRect()->rect().contains(event->position().toPoint())) {
        QToolTip::showText(event->globalPosition().toPoint(), corte, this);
        return;
    }
    const int fila = qRound(xAxis->pixelToCoord(event->position().x()));
    // The newest row sits on the plot's right edge line, one pixel past QRect::right().
    if (!axisRect()->rect().adjusted(0, 0, 1, 1).contains(event->position().toPoint()) || fila < 1
        || fila > ventana_.RowCount()) {
        QToolTip::hideText();
        return;
    }
    const VentanaMuestras::Fila f = ventana_.fila(fila);
    const QString texto =
        f.conDato() ? QStringLiteral("Fila %1\nValor: %2\nSet Point: %3")
                          .arg(fila)
                          .arg(f.dato)
                          .arg(f.conSetPoint() ? QString::number(f.setPoint)
                                               : QStringLiteral("aún no informado"))
                    : QStringLiteral("Fila %1\nAún no hay ninguna muestra aquí").arg(fila);
    QToolTip::showText(event->globalPosition().toPoint(), texto, this);
}
