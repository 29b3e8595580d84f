#include "sesiones.h"

#include <algorithm>

double DetectorSesiones::espaciado() const
{
    if (n_ == 0)
        return -1.0;
    const auto en = [this](int atras) { // 0: the newest
        return intervalos_[size_t((siguiente_ - 1 - atras + guardados) % guardados)];
    };
    if (n_ < grupo) {
        int64_t suma = 0;
        for (int i = 0; i < n_; ++i)
            suma += en(i);
        return double(suma) / n_;
    }
    std::array<double, grupos> medias{};
    int k = 0;
    for (; k < grupos && (k + 1) * grupo <= n_; ++k) {
        int64_t suma = 0;
        for (int i = k * grupo; i < (k + 1) * grupo; ++i)
            suma += en(i);
        medias[size_t(k)] = double(suma) / grupo;
    }
    std::nth_element(medias.begin(), medias.begin() + k / 2, medias.begin() + k);
    return medias[size_t(k / 2)];
}

bool DetectorSesiones::agregar(int64_t ms)
{
    if (!hay_) {
        hay_ = true;
        ultimo_ = ms;
        return true;
    }
    const int64_t pausa = ms - ultimo_;
    ultimo_ = ms;
    // With no interval yet there is nothing to compare the first with.
    if (pausa > minimoMs) {
        const double espacio = espaciado();
        if (espacio >= 0 && double(pausa) > veces * espacio)
            return true;
    }
    intervalos_[size_t(siguiente_)] = pausa;
    siguiente_ = (siguiente_ + 1) % guardados;
    n_ = std::min(n_ + 1, guardados);
    return false;
}
