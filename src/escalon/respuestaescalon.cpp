#include "respuestaescalon.h"

#include <algorithm>

void RespuestaEscalon::agregar(Reloj::Instante instante, int16_t dato,
                               std::optional<int16_t> setPoint)
{
    if (setPoint && setPoint_ && *setPoint != *setPoint_) {
        if (corregir_)
            hasta_ = *setPoint;
        else
            empezar(instante, *setPoint_, *setPoint);
        corregir_ = false;
    }
    setPoint_ = setPoint;
    if (grabando_)
        registro_.agregar(std::chrono::duration<double>(instante - inicio_).count(), dato);
    ultimas_[ultimasSiguiente_] = dato;
    ultimasSiguiente_ = (ultimasSiguiente_ + 1) % muestrasAntes;
    ultimasN_ = std::min(ultimasN_ + 1, muestrasAntes);
}

void RespuestaEscalon::empezar(Reloj::Instante instante, int16_t desde, int16_t hasta)
{
    if (hayEscalon_) {
        terminado_ = true;
        historia_[historiaSiguiente_] = actual();
        historiaOrigen_[historiaSiguiente_] = origenActual_;
        historiaSiguiente_ = (historiaSiguiente_ + 1) % int(historia_.size());
        historiaN_ = std::min(historiaN_ + 1, int(historia_.size()));
    }
    hayEscalon_ = grabando_ = true;
    terminado_ = false;
    ++numero_;
    origenActual_ = origen_; // shared, not copied: no allocation on the sample path
    inicio_ = instante;
    desde_ = desde;
    hasta_ = hasta;
    registro_.empezar();
    // The samples since the set point last changed, then none: the next step's noise is
    // measured on this one's samples alone.
    antesN_ = ultimasN_;
    for (int i = 0; i < antesN_; ++i)
        antes_[i] = ultimas_[(ultimasSiguiente_ - antesN_ + i + muestrasAntes) % muestrasAntes];
    ultimasN_ = 0;
}

RespuestaEscalon::Figuras RespuestaEscalon::actual() const
{
    if (!hayEscalon_)
        return {};
    if (!medidas_ || medidasNumero_ != numero_ || medidasMuestras_ != registro_.muestras()
        || medidasTerminado_ != terminado_ || medidasHasta_ != hasta_) {
        medidas_ = medirEscalon({desde_, hasta_, inicio_, antes_.data(), antesN_, &registro_, terminado_});
        medidasNumero_ = numero_;
        medidasMuestras_ = registro_.muestras();
        medidasTerminado_ = terminado_;
        medidasHasta_ = hasta_;
    }
    return *medidas_;
}

RespuestaEscalon::Figuras RespuestaEscalon::escalon(int i) const
{
    if (i == 0)
        return actual();
    const int n = int(historia_.size());
    return historia_[((historiaSiguiente_ - i) % n + n) % n];
}

QString RespuestaEscalon::origen(int i) const
{
    if (i == 0)
        return origenActual_;
    const int n = int(historia_.size());
    return historiaOrigen_[((historiaSiguiente_ - i) % n + n) % n];
}
