#include "registroescalon.h"

#include <algorithm>

void RegistroEscalon::empezar()
{
    n_ = 0;
    alfa_ = capacidad / 2;
    muestras_ = 0;
    tUltimo_ = 0.0;
}

void RegistroEscalon::agregar(double t, double y)
{
    t = std::max(t, tUltimo_); // never back in time, which no merge could undo
    ++muestras_;
    tUltimo_ = t;
    const double recortada = y == 0.0 || y == 254.0 ? 1.0 : 0.0;
    if (n_ > 0 && t <= abierto_) {
        const int i = n_ - 1;
        limite_[i] += recortada;
        const double k = 1.0 / (cuenta_[i] += 1.0);
        t_[i] += (t - t_[i]) * k;
        y_[i] += (y - y_[i]) * k;
        hasta_[i] = t;
        return;
    }
    while (n_ == capacidad)
        compactar();
    t_[n_] = desde_[n_] = hasta_[n_] = t;
    y_[n_] = y;
    cuenta_[n_] = 1.0;
    limite_[n_] = recortada;
    abierto_ = t + t / alfa_;
    ++n_;
}

void RegistroEscalon::compactar()
{
    alfa_ /= 2;
    int j = 0;
    for (int i = 0; i < n_; ++i) {
        if (j > 0 && hasta_[i] <= desde_[j - 1] * (1.0 + 1.0 / alfa_)) {
            const double total = cuenta_[j - 1] + cuenta_[i];
            t_[j - 1] = (t_[j - 1] * cuenta_[j - 1] + t_[i] * cuenta_[i]) / total;
            y_[j - 1] = (y_[j - 1] * cuenta_[j - 1] + y_[i] * cuenta_[i]) / total;
            cuenta_[j - 1] = total;
            limite_[j - 1] += limite_[i];
            hasta_[j - 1] = hasta_[i];
            continue;
        }
        t_[j] = t_[i];
        y_[j] = y_[i];
        cuenta_[j] = cuenta_[i];
        limite_[j] = limite_[i];
        desde_[j] = desde_[i];
        hasta_[j] = hasta_[i];
        ++j;
    }
    n_ = j;
    abierto_ = desde_[j - 1] * (1.0 + 1.0 / alfa_);
}
