#pragma once

#include <QList>
#include <QString>
#include <QVector>

#include "programa/resultados.h"

class QCustomPlot;

// The repeats of one stage of a program on one plot: each from its own step (time 0), with its
// fitted response dashed in its colour. Worked out and drawn when asked for, never per sample.
namespace superposicion {

struct Curva
{
    int repeticion = 0; // from 1
    double nivel = 0;   // taken from each value: the starting level, or 0 drawn as is
    QVector<double> t, y, tModelo, yModelo;
};

struct Vista
{
    int etapa = 0; // from 1
    QList<Curva> curvas;
    int medidas = 0; // repeats measured; the older ones beyond what is kept are not drawn
    // Repeats that started from different set points are drawn as their change from their own
    // starting level, so their courses lie over one another.
    bool desviacion = false;
};

Vista calcular(const QList<resultados::Escalon> &escalones, int etapa);
void dibujar(QCustomPlot &grafico, const Vista &v);
// What the plot shows, or why there is nothing to compare, in a line.
QString texto(const Vista &v, int setPoint);

} // namespace superposicion
