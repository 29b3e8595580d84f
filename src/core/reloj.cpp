#include "reloj.h"

Reloj::Lectura Reloj::leer()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (ts.tv_sec != segundoCache_) {
        tm local;
        localtime_r(&ts.tv_sec, &local);
        segundoCache_ = ts.tv_sec;
        segundosDiaCache_ = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    }
    const double segundos = segundosDiaCache_ + ts.tv_nsec * 1e-9;
    return {static_cast<int64_t>(ts.tv_sec), static_cast<float>(segundos)};
}
