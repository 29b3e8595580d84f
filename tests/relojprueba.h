#pragma once

// A clock the test moves by hand: the steady time and the wall time, each on its own.

#include <chrono>

#include <QDateTime>

#include "core/reloj.h"

class RelojPrueba : public Reloj::Fuente
{
public:
    explicit RelojPrueba(const QDateTime &inicio)
        : pared_(std::chrono::milliseconds(inicio.toMSecsSinceEpoch()))
    {
    }

    Reloj::Instante estable() override { return estable_; }
    Reloj::Pared pared() override { return pared_; }

    // Time passes on both clocks; `salto` is a step of the wall clock alone.
    void avanzar(std::chrono::microseconds paso, std::chrono::microseconds salto = {})
    {
        estable_ += paso;
        pared_ += paso + salto;
    }

private:
    Reloj::Instante estable_{std::chrono::hours(1000)};
    Reloj::Pared pared_;
};
