#pragma once

#include <optional>
#include <vector>

#include "escalon/modelo.h"

// Points of a step's record to fit: each point's time, value and variance (counts²).
struct Puntos
{
    const double *t, *y, *varianza;
    int n;
    // The response may start up to this much before the step's first sample (negative): a
    // controller that takes its sample after acting on the new set point.
    double retardoMinimo = 0.0;
};

struct Ajuste
{
    Modelo modelo;
    double chi2 = 0.0;   // sum of squared residuals, each over its point's variance
    int libres = 0;      // points less parameters
    double dFinal = 0.0; // standard deviation of the final value, counts
    // Models as far off as the points allow (2.5 standard deviations along each axis of the
    // parameters' covariance): a figure they all give within its tolerance is known.
    std::vector<Modelo> dudas;
};

// The model that fits the points best in least squares, by Eigen's Levenberg-Marquardt over
// its shape (c1, c2, dead time) with the levels and the zero solved exactly for each shape
// (variable projection), from starts read off the points alone, so the same points always
// give the same fit. The zero, and a dead time past the earliest start, only where the points
// need them. Needs 8 points.
std::optional<Ajuste> ajustar(const Puntos &p);

// The noise of one sample from the differences of neighbours, which a slope barely moves:
// their spread, leaving out those over five times their median size (a jump, a step's edge).
std::optional<double> ruidoRobusto(const double *y, int n);
