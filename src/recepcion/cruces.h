#pragma once

#include <optional>

// When a series first reaches a level going the way it is meant to go: from its first point
// on, so a series that starts past the level reaches it at once; between two points, where
// the straight line joining them meets the level.
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
