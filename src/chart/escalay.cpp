#include "escalay.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QLineEdit>

#include "chart/graficotendencia.h"
#include "core/numeros.h"

namespace escalay {

namespace {

// What the chart can draw: it refuses axes too small or too large for its arithmetic.
bool rangoValido(double inferior, double superior)
{
    return QCPRange::validRange(inferior, superior);
}

// A value above 0 read from a scale box, or nothing.
std::optional<double> leerPositivo(const QString &texto)
{
    if (texto.isEmpty())
        return std::nullopt;
    const auto valor = numeros::leerReal(texto);
    if (!valor || *valor <= 0.0)
        return std::nullopt;
    return valor;
}

} // namespace

Rango rangoManual(const ValueScale &escala)
{
    const double inferior = std::min(escala.Minimum, escala.Maximum);
    const double superior = std::max(escala.Minimum, escala.Maximum);
    if (!rangoValido(inferior, superior))
        return {0.0, 1.0};
    return {inferior, superior};
}

QVector<double> ticksManuales(const ValueScale &escala)
{
    const Rango rango = rangoManual(escala);
    const int divisiones = std::max<int>(1, escala.MajorDivision);
    const int paso = (divisiones + maxTicks - 1) / maxTicks;
    QVector<double> ticks;
    ticks.reserve(divisiones / paso + 2);
    for (int i = 0; i < divisiones; i += paso)
        ticks.append(rango.inferior + (rango.superior - rango.inferior) * i / divisiones);
    ticks.append(rango.superior);
    return ticks;
}

Rango rangoAutomatico(double minimo, double maximo)
{
    const double inferior = minimo;
    double superior = maximo;
    if (superior <= inferior)
        superior = inferior + 1.0;
    // Of the steps 1, 2, 2.5 and 5 times a power of ten that cut the range into 4 to 12
    // divisions, the one that wastes least room above the data.
    const double base = std::pow(10.0, std::floor(std::log10(superior - inferior)) - 2);
    Rango mejor{inferior, superior};
    double mejorTramo = INFINITY;
    for (double potencia = base; potencia <= base * 1000; potencia *= 10) {
        for (double m : {1.0, 2.0, 2.5, 5.0}) {
            const double paso = m * potencia;
            const double bajo = std::floor(inferior / paso) * paso;
            const double alto = std::ceil(superior / paso) * paso;
            const double divisiones = std::round((alto - bajo) / paso);
            if (divisiones >= 4 && divisiones <= 12 && alto - bajo < mejorTramo) {
                mejorTramo = alto - bajo;
                mejor = {bajo, alto};
            }
        }
    }
    return mejor;
}

void clickAutoEscala(const QCheckBox &chkAutoEscala, QLineEdit &txtEscala,
                     QLineEdit &txtMajorDivision, GraficoTendencia &grafico)
{
    const bool marcado = chkAutoEscala.checkState() == Qt::Checked;
    grafico.setAuto(marcado);
    txtEscala.setEnabled(!marcado);
    txtMajorDivision.setEnabled(!marcado);
    if (chkAutoEscala.checkState() == Qt::Unchecked) {
        cambioEscala(txtEscala.text(), grafico);
        cambioMajorDivision(txtMajorDivision.text(), grafico);
    }
}

void cambioEscala(const QString &txtEscala, GraficoTendencia &grafico)
{
    // A maximum the chart cannot draw is ignored like a text that is not a number, so
    // what is stored is always what is drawn.
    const auto maximo = leerPositivo(txtEscala);
    if (maximo && rangoValido(grafico.valueScale().Minimum, *maximo))
        grafico.setMaximum(*maximo);
}

void cambioMajorDivision(const QString &txtMajorDivision, GraficoTendencia &grafico)
{
    const auto real = leerPositivo(txtMajorDivision);
    if (!real)
        return;
    // Above 32767 the count cannot be held: ignored like a text that is not a number.
    if (const auto divisiones = numeros::redondearEntero(*real))
        grafico.setMajorDivision(*divisiones);
}

} // namespace escalay
