#pragma once

#include <cstdint>
#include <ctime>

// The local clock as seconds since midnight, read once per sample. The calendar
// conversion (time zone, summer time) runs once per second, not per reading.
class Reloj
{
public:
    struct Lectura
    {
        int64_t segundoEpoca;        // whole seconds since the Unix epoch
        float segundosMedianoche;    // local seconds since midnight, fraction included
    };

    Lectura leer();

private:
    time_t segundoCache_ = -1;
    int segundosDiaCache_ = 0;
};
