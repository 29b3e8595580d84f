#include "oscilacion.h"

#include "escalon/cruces.h"

void Oscilacion::agregar(double t, double y)
{
    if (hayAnterior_ && yAnterior_ < centro_ && y >= centro_ && debajo_) {
        const double subida = tiempoDeCruce(tAnterior_, yAnterior_, t, y, centro_);
        if (subida_ && encima_)
            periodo_ = subida - *subida_;
        subida_ = subida;
        debajo_ = encima_ = false;
    }
    if (y > centro_ + semiancho_)
        encima_ = true;
    else if (y < centro_ - semiancho_)
        debajo_ = true;
    hayAnterior_ = true;
    tAnterior_ = t;
    yAnterior_ = y;
}
