#include "cruces.h"

void Cruce::agregar(double t, double y)
{
    if (!cuando_ && (y - nivel_) * sentido_ >= 0) {
        // The previous point had not reached it, so the level lies between the two.
        if (hayAnterior_ && t > tAnterior_ && y != yAnterior_)
            cuando_ = tAnterior_ + (nivel_ - yAnterior_) / (y - yAnterior_) * (t - tAnterior_);
        else
            cuando_ = t;
    }
    hayAnterior_ = true;
    tAnterior_ = t;
    yAnterior_ = y;
}
