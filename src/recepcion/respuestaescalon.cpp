#include "respuestaescalon.h"

#include <algorithm>
#include <cmath>

void RespuestaEscalon::empezar(Reloj::Instante instante, int16_t desde, int16_t hasta)
{
    if (hayEscalon_) {
        historia_[historiaSiguiente_] = actual();
        historiaSiguiente_ = (historiaSiguiente_ + 1) % int(historia_.size());
        historiaN_ = std::min(historiaN_ + 1, int(historia_.size()));
    }
    hayEscalon_ = true;
    inicio_ = instante;
    desde_ = desde;
    hasta_ = hasta;
    escalon_ = double(hasta) - double(desde);
    tolerancia_ = std::max(0.05 * std::abs(escalon_), 1.0);
    t10_.reset();
    t90_.reset();
    enPico_ = paso_ = volvio_ = dentro_ = false;
    debajo_ = encima_ = false;
    subidaAnterior_.reset();
    periodo_.reset();
    mediaPrimero_ = mediaN_ = 0;
    mediaSuma_ = 0;
}

double RespuestaEscalon::cruce(double nivel, double t, double valor) const
{
    if (valor == datoAnterior_ || t <= tAnterior_)
        return t;
    return tAnterior_ + (nivel - datoAnterior_) / (valor - datoAnterior_) * (t - tAnterior_);
}

void RespuestaEscalon::agregar(Reloj::Instante instante, int16_t dato, int16_t setPoint)
{
    const bool primera = hayMuestra_ && setPoint != setPoint_;
    if (primera)
        empezar(instante, setPoint_, setPoint);
    hayMuestra_ = true;
    setPoint_ = setPoint;
    if (!hayEscalon_)
        return;

    const double t = segundos(instante);
    const double valor = dato;
    // Progress along the step: 0 at the old set point, 1 at the new one, either direction.
    const double avance = (valor - desde_) / escalon_;
    const double avanceAnterior = (datoAnterior_ - desde_) / escalon_;
    if (primera) {
        pico_ = dato;
        picoDesde_ = picoHasta_ = t;
        enPico_ = true;
    } else {
        if (!t10_ && avance >= 0.1)
            t10_ = avanceAnterior < 0.1 ? cruce(desde_ + 0.1 * escalon_, t, valor) : t;
        if (!t90_ && avance >= 0.9)
            t90_ = avanceAnterior < 0.9 ? cruce(desde_ + 0.9 * escalon_, t, valor) : t;
        const double avancePico = (pico_ - desde_) / escalon_;
        if (avance > avancePico) {
            pico_ = dato;
            picoDesde_ = picoHasta_ = t;
            enPico_ = true;
            volvio_ = false;
        } else if (dato == pico_ && enPico_) {
            picoHasta_ = t;
        } else if (dato != pico_) {
            enPico_ = false;
            volvio_ = paso_;
        }
    }
    if (avance > 1.0)
        paso_ = true;

    // A swing is timed at its upward crossings of the set point, which a decaying swing
    // passes at a steady pace (its exits from the band do not); only swings that left the
    // band on both sides count, so noise about the set point makes none.
    if (!primera && datoAnterior_ < hasta_ && valor >= hasta_ && debajo_) {
        const double subida = cruce(hasta_, t, valor);
        if (subidaAnterior_ && encima_)
            periodo_ = subida - *subidaAnterior_;
        subidaAnterior_ = subida;
        debajo_ = encima_ = false;
    }

    const double desvio = valor - hasta_;
    if (std::abs(desvio) <= tolerancia_) {
        if (!dentro_) {
            dentro_ = true;
            // Where it crossed the band's edge, from the side it came.
            const double borde = hasta_ + (datoAnterior_ > hasta_ ? tolerancia_ : -tolerancia_);
            entrada_ = primera ? t : std::max(cruce(borde, t, valor), tAnterior_);
        }
        if (mediaN_ == capacidadMedia) {
            mediaSuma_ -= media_[mediaPrimero_].error;
            mediaPrimero_ = (mediaPrimero_ + 1) % capacidadMedia;
            --mediaN_;
        }
        const int32_t error = dato - hasta_;
        media_[(mediaPrimero_ + mediaN_) % capacidadMedia] = {t, error};
        ++mediaN_;
        mediaSuma_ += error;
        while (media_[mediaPrimero_].t < t - 1.0) {
            mediaSuma_ -= media_[mediaPrimero_].error;
            mediaPrimero_ = (mediaPrimero_ + 1) % capacidadMedia;
            --mediaN_;
        }
    } else {
        dentro_ = false;
        mediaPrimero_ = mediaN_ = 0;
        mediaSuma_ = 0;
        (desvio > 0 ? encima_ : debajo_) = true;
    }
    tAnterior_ = t;
    datoAnterior_ = valor;
}

RespuestaEscalon::Figuras RespuestaEscalon::actual() const
{
    Figuras f;
    if (!hayEscalon_)
        return f;
    f.hay = true;
    f.desde = desde_;
    f.hasta = hasta_;
    if (t10_ && t90_)
        f.subida = *t90_ - *t10_;
    // Settled: within the band for the last second at least.
    const bool asentado = dentro_ && tAnterior_ - entrada_ >= 1.0;
    if ((paso_ && volvio_) || asentado) {
        f.pico = pico_;
        f.sobreimpulso = std::max(0.0, (pico_ - hasta_) / escalon_ * 100.0);
        if (*f.sobreimpulso > 0.0 && volvio_)
            f.tiempoPico = (picoDesde_ + picoHasta_) / 2.0;
    }
    if (asentado) {
        f.establecimiento = entrada_;
        if (mediaN_ > 0)
            f.errorEstacionario = double(mediaSuma_) / mediaN_;
    } else {
        f.periodo = periodo_;
    }
    return f;
}

RespuestaEscalon::Figuras RespuestaEscalon::escalon(int i) const
{
    if (i == 0)
        return actual();
    const int n = int(historia_.size());
    return historia_[((historiaSiguiente_ - i) % n + n) % n];
}
