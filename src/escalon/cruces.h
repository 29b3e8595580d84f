#pragma once

#include <optional>

// When a series first reaches a level going the way it is meant to go: from its first point
// on, so a series that starts past the level reaches it at once; between two points, where
// the straight line joining them meets the level.
// Where the straight line from (t0, y0) to (t1, y1) meets `nivel`; t1 where they coincide.
inline double tiempoDeCruce(double t0, double y0, double t1, double y1, double nivel)
{
    return t1 > t0 && y1 != y0 ? t0 + (nivel - y0) / (y1 - y0) * (t1 - t0) : t1;
}

class Cruce
{
public:
    Cruce(double nivel, double sentido) : nivel_(nivel), sentido_(sentido) {}

    void agregar(double t, double y);
    std::optional<double> cuando() const { return cuando_; }
    double nivel() const { return nivel_; }

private:
    double nivel_, sentido_;
    std::optional<double> cuando_;
    bool hayAnterior_ = false;
    double tAnterior_ = 0.0, yAnterior_ = 0.0;
};
