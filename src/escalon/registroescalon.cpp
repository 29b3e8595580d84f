#include "registroescalon.h"

void RegistroEscalon::empezar()
{
    n_ = enCurso_ = 0;
    porPunto_ = 1;
    sumaT_ = sumaY_ = 0.0;
    muestras_ = 0;
    tUltimo_ = 0.0;
}

void RegistroEscalon::agregar(double t, double y)
{
    ++muestras_;
    tUltimo_ = t;
    sumaT_ += t;
    sumaY_ += y;
    if (++enCurso_ < porPunto_)
        return;
    if (n_ == capacidad) {
        for (int i = 0; i < capacidad / 2; ++i) {
            t_[i] = (t_[2 * i] + t_[2 * i + 1]) / 2;
            y_[i] = (y_[2 * i] + y_[2 * i + 1]) / 2;
        }
        n_ = capacidad / 2;
        porPunto_ *= 2; // the samples in hand are half of the next point
        return;
    }
    t_[n_] = sumaT_ / enCurso_;
    y_[n_] = sumaY_ / enCurso_;
    ++n_;
    enCurso_ = 0;
    sumaT_ = sumaY_ = 0.0;
}
