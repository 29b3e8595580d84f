#pragma once

#include <cstdint>
#include <vector>

#include "historial/lectorlineas.h"

// A log's samples in compact arrays (8 bytes of time and 2 of counts each), with the least
// and greatest value and set point over blocks of 8, 64, 512... samples, so the least and
// greatest over any stretch comes in a few dozen steps: a picture of millions of samples is
// drawn a pixel column at a time, and one sample that stands out is never lost.
class DatosHistorial
{
public:
    static constexpr int ramas = 8;

    struct Rango
    {
        uint8_t minimo = 255, maximo = 0; // minimo > maximo: nothing there
        bool vacio() const { return minimo > maximo; }
    };
    struct Columna
    {
        double t;         // seconds since the epoch, the column's middle
        Rango valor, setPoint;
    };

    void agregar(const LectorLineas::Muestra &m);
    void vaciar();

    size_t cuantos() const { return ms_.size(); }
    int64_t ms(size_t i) const { return ms_[i]; }
    uint8_t valor(size_t i) const { return valor_[i]; }
    uint8_t setPoint(size_t i) const { return setPoint_[i]; }
    bool conMs(size_t i) const { return conMs_[i]; }
    // Times that went back (the wall clock stepped back while logging) are kept level.
    size_t atrasados() const { return atrasados_; }

    // First sample at or after `ms`.
    size_t desde(int64_t ms) const;
    Rango rangoValor(size_t a, size_t b) const { return rango(0, a, b); }
    Rango rangoSetPoint(size_t a, size_t b) const { return rango(1, a, b); }

    // `columnas` columns splitting [t0, t1) (seconds since the epoch) evenly, each with the
    // least and greatest of the samples in it.
    std::vector<Columna> columnas(double t0, double t1, int columnas) const;

private:
    // Level 0 is the samples themselves; level k holds blocks of ramas^k of them.
    Rango rango(int serie, size_t a, size_t b) const;
    Rango base(int serie, size_t i) const;
    void subir(size_t i);

    std::vector<int64_t> ms_;
    std::vector<uint8_t> valor_, setPoint_;
    std::vector<bool> conMs_;
    std::vector<std::vector<Rango>> niveles_[2];
    size_t atrasados_ = 0;
};
