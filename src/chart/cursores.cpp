#include "cursores.h"

#include <cmath>

#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <qcustomplot.h>

namespace {

constexpr int alcancePx = 6; // how near a cursor a press takes it

} // namespace

Cursores::Cursores(QCustomPlot &plot, Muestras muestras)
    : QObject(&plot), plot_(plot), muestras_(std::move(muestras))
{
    const std::array<QColor, 2> colores{QColor(0, 140, 60), QColor(150, 0, 170)};
    for (size_t c = 0; c < 2; ++c) {
        linea_[c] = new QCPItemStraightLine(&plot_);
        linea_[c]->setPen(QPen(colores[c], 1, Qt::DashLine));
        letra_[c] = new QCPItemText(&plot_);
        letra_[c]->setText(c == 0 ? QStringLiteral("A") : QStringLiteral("B"));
        letra_[c]->setColor(colores[c]);
        letra_[c]->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        letra_[c]->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        linea_[c]->setVisible(false);
        letra_[c]->setVisible(false);
    }
}

void Cursores::dibujarAparte(QCPLayer *capa)
{
    for (size_t c = 0; c < 2; ++c) {
        linea_[c]->setLayer(capa);
        letra_[c]->setLayer(capa);
    }
}

void Cursores::limitar(uint64_t primera)
{
    for (auto &i : indice_)
        if (i && *i < primera)
            i = primera;
}

void Cursores::setVisible(bool si)
{
    visible_ = si;
    if (si && (!indice_[0] || !indice_[1]))
        colocar();
    actualizar();
    emit cambiado();
}

void Cursores::colocar()
{
    const QCPRange r = plot_.xAxis->range();
    for (int c = 0; c < 2; ++c) {
        x_[size_t(c)] = r.lower + r.size() * (c + 1) / 3;
        indice_[size_t(c)] = muestras_.cercana(x_[size_t(c)]);
    }
}

void Cursores::poner(int cual, uint64_t i)
{
    const uint64_t n = muestras_.cuantos();
    if (n == 0)
        return;
    indice_[size_t(cual)] = std::min(i, n - 1);
    activo_ = cual;
    actualizar();
    emit cambiado();
}

void Cursores::actualizar()
{
    for (size_t c = 0; c < 2; ++c) {
        if (indice_[c])
            if (const auto x = muestras_.x(*indice_[c]))
                x_[c] = *x;
        linea_[c]->point1->setCoords(x_[c], 0);
        linea_[c]->point2->setCoords(x_[c], 1);
        letra_[c]->position->setCoords(x_[c], 0.0);
        linea_[c]->setVisible(visible_);
        letra_[c]->setVisible(visible_);
    }
}

void Cursores::llevar(int cual, double x)
{
    x_[size_t(cual)] = x;
    indice_[size_t(cual)] = muestras_.cercana(x);
    activo_ = cual;
    actualizar();
    emit cambiado();
}

bool Cursores::pulsar(QMouseEvent *event)
{
    if (!visible_ || event->button() != Qt::LeftButton)
        return false;
    const double px = event->position().x();
    int cerca = -1;
    double mejor = alcancePx + 1;
    for (int c = 0; c < 2; ++c) {
        const double d = std::abs(plot_.xAxis->coordToPixel(x_[size_t(c)]) - px);
        if (d <= alcancePx && d < mejor) {
            mejor = d;
            cerca = c;
        }
    }
    if (cerca < 0)
        return false;
    arrastrando_ = cerca;
    activo_ = cerca;
    return true;
}

bool Cursores::mover(QMouseEvent *event)
{
    if (arrastrando_ < 0)
        return false;
    llevar(arrastrando_, plot_.xAxis->pixelToCoord(event->position().x()));
    plot_.replot(QCustomPlot::rpQueuedReplot);
    return true;
}

bool Cursores::soltar(QMouseEvent *)
{
    if (arrastrando_ < 0)
        return false;
    arrastrando_ = -1;
    return true;
}

bool Cursores::tecla(QKeyEvent *event)
{
    if (!visible_ || (event->key() != Qt::Key_Left && event->key() != Qt::Key_Right))
        return false;
    const auto i = indice_[size_t(activo_)];
    if (!i)
        return true;
    const bool izquierda = event->key() == Qt::Key_Left;
    if (izquierda && *i == 0)
        return true;
    poner(activo_, izquierda ? *i - 1 : *i + 1);
    plot_.replot(QCustomPlot::rpQueuedReplot);
    return true;
}

std::optional<double> FigurasCursores::desviacion() const
{
    if (n < 2)
        return std::nullopt;
    // n·Σx² − (Σx)² exactly (it passes 64 bits beyond a few hundred million samples).
    using U = unsigned __int128;
    const U num = U(n) * sumaCuadrados - U(sumaValor) * sumaValor;
    return std::sqrt(double(num) / (double(n) * double(n - 1)));
}

std::optional<double> FigurasCursores::mediaSetPoint() const
{
    if (conSetPoint == 0)
        return std::nullopt;
    return double(sumaSetPoint) / double(conSetPoint);
}

std::optional<double> FigurasCursores::espaciado() const
{
    if (n < 2)
        return std::nullopt;
    return std::abs(tB - tA) / double(n - 1);
}

QString FigurasCursores::texto(const QString &horaA, const QString &horaB) const
{
    const QLocale l;
    const auto real = [&l](std::optional<double> v, int d) {
        return v ? l.toString(*v, 'f', d) : QString();
    };
    QStringList filas{
        QStringLiteral("A\t%1\t%2").arg(horaA).arg(valorA),
        QStringLiteral("B\t%1\t%2").arg(horaB).arg(valorB),
        QStringLiteral("Δt (s)\t%1").arg(l.toString(tB - tA, 'f', 3)),
        QStringLiteral("Δ valor\t%1").arg(valorB - valorA),
        QStringLiteral("Mínimo\t%1").arg(minimo),
        QStringLiteral("Máximo\t%1").arg(maximo),
        QStringLiteral("Media\t%1").arg(real(media(), 3)),
        QStringLiteral("Desviación típica (n−1)\t%1").arg(real(desviacion(), 3)),
        QStringLiteral("Media del set point\t%1").arg(real(mediaSetPoint(), 3)),
        QStringLiteral("Muestras\t%1").arg(n),
        QStringLiteral("Espaciado medio (s)\t%1").arg(real(espaciado(), 6)),
    };
    if (pausas > 0)
        filas << QStringLiteral("Pausas\t%1\t%2 s").arg(pausas).arg(l.toString(segundosPausas, 'f', 3));
    return filas.join(u'\n') + u'\n';
}
