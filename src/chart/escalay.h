#pragma once

#include <cstdint>

#include <QVector>

class QCheckBox;
class QLineEdit;
class QString;
class GraficoTendencia;

// The Y axis's value scale as the chart exposes it.
struct ValueScale
{
    bool Auto = false;
    double Minimum = 0.0;
    double Maximum = 50.0;
    int16_t MajorDivision = 25;
    int16_t MinorDivision = 1;
};

namespace escalay {

// More labelled ticks than this would only overlap on a chart of this height.
constexpr int maxTicks = 200;

struct Rango
{
    double inferior;
    double superior;
};

// The hand-set axis: from Minimum to Maximum, or a unit range when that is empty.
Rango rangoManual(const ValueScale &escala);

// Ticks of the hand-set axis: MajorDivision + 1 of them from Minimum to Maximum, thinned
// to at most maxTicks + 1; no divisions or a huge count never floods the axis.
QVector<double> ticksManuales(const ValueScale &escala);

// A readable range that holds [minimo, maximo], ending on round steps; a flat series gets
// a unit range above it.
Rango rangoAutomatico(double minimo, double maximo);

// Handlers of the three scale controls.
void clickAutoEscala(const QCheckBox &chkAutoEscala, QLineEdit &txtEscala,
                     QLineEdit &txtMajorDivision, GraficoTendencia &grafico);
void cambioEscala(const QString &txtEscala, GraficoTendencia &grafico);
void cambioMajorDivision(const QString &txtMajorDivision, GraficoTendencia &grafico);

} // namespace escalay
