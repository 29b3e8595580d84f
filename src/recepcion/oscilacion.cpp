#include "oscilacion.h"

void Oscilacion::agregar(double t, double y)
{
    if (hayAnterior_ && yAnterior_ < centro_ && y >= centro_ && debajo_) {
        const double subida = t > tAnterior_ ? tAnterior_
                                                   + (centro_ - yAnterior_) / (y - yAnterior_)
                                                         * (t - tAnterior_)
                                             : t;
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
