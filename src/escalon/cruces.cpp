#include "cruces.h"

void Cruce::agregar(double t, double y)
{
    if (!cuando_ && (y - nivel_) * sentido_ >= 0) {
        // The previous point had not reached it, so the level lies between the two.
        cuando_ = hayAnterior_ ? tiempoDeCruce(tAnterior_, yAnterior_, t, y, nivel_) : t;
    }
    hayAnterior_ = true;
    tAnterior_ = t;
    yAnterior_ = y;
}
