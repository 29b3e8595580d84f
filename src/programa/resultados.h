#pragma once

#include <optional>
#include <span>

#include <QList>
#include <QString>

#include "escalon/medicion.h"

// Each «Escalón» stage of a run is a step of the step analysis: its figures, and per stage
// across the repeats each figure's mean, standard deviation, minimum and maximum.
namespace resultados {

struct Escalon
{
    int repeticion = 0; // from 1
    int etapa = 0;      // from 1
    FigurasEscalon figuras;
    // Its record's points as the stage ended, seconds from the step: to be drawn beside the
    // other repeats'.
    QList<double> tiempos, valores;
};

struct Estadistica
{
    int n = 0;
    double media = 0, minimo = 0, maximo = 0;
    std::optional<double> desviacion; // n - 1, a spreadsheet's STDEV; needs two
};
std::optional<Estadistica> estadistica(std::span<const double> valores);

// The figures listed, by column: a name with its unit, and the figure where it is final.
struct Cifra
{
    const char *nombre;
    std::optional<double> (*valor)(const FigurasEscalon &);
    int decimales;
};
std::span<const Cifra> cifras();

// Tab-separated text a spreadsheet opens: a row per step, then a row per stage and figure
// with its statistics. An unknown figure is an empty cell.
QString texto(const QList<Escalon> &escalones);

} // namespace resultados
