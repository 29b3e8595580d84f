#include "banda.h"

#include <cmath>

void Banda::agregar(double t, double y)
{
    const bool dentro = std::abs(y - centro_) <= semiancho_;
    if (dentro && !dentro_) {
        entrada_ = t;
        if (hayAnterior_ && t > tAnterior_) {
            const double borde = centro_ + (yAnterior_ > centro_ ? semiancho_ : -semiancho_);
            entrada_ = tAnterior_ + (borde - yAnterior_) / (y - yAnterior_) * (t - tAnterior_);
        }
    }
    dentro_ = dentro;
    hayAnterior_ = true;
    tAnterior_ = t;
    yAnterior_ = y;
}
