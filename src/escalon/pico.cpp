#include "pico.h"

void Pico::agregar(double t, double y)
{
    if (!hay_ || (y - valor_) * sentido_ > 0) {
        hay_ = enRacha_ = true;
        valor_ = y;
        desde_ = hasta_ = t;
    } else if (y == valor_ && enRacha_) {
        hasta_ = t;
    } else {
        enRacha_ = false; // a later run of the same value is another visit, not this peak
    }
}
