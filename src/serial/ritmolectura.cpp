#include "ritmolectura.h"

#include <algorithm>

bool RitmoLectura::trasLectura(qint64 n, Tiempo ahora)
{
    if (n <= 0)
        return false;
    if (n >= rafagaBytes) {
        inicioTramo_.reset();
        return false;
    }
    // A stretch of small reads: the bytes after its first one, over the time since it.
    if (!inicioTramo_) {
        inicioTramo_ = ahora;
        bytesTramo_ = 0;
        return false;
    }
    bytesTramo_ += n;
    const Tiempo tramo = ahora - *inicioTramo_;
    if (bytesTramo_ < minimoTramo) {
        if (tramo > pausa)
            inicioTramo_.reset(); // too slow to matter
        return false;
    }
    inicioTramo_.reset();
    return bytesTramo_ * std::chrono::nanoseconds(std::chrono::seconds(1)).count()
           >= ritmoPausa * tramo.count();
}

bool RitmoLectura::trasPausa(qint64 n, Tiempo duracion)
{
    inicioTramo_.reset();
    const qint64 ms = std::max<qint64>(
        1, std::chrono::duration_cast<std::chrono::milliseconds>(duracion).count());
    return n > 0 && n < limitePausa && n * 1000 >= ritmoPausa * ms; // still a fast trickle
}

RitmoLectura::Tiempo RitmoLectura::llegada(qint64 n, qint64 esperando, Tiempo ahora,
                                           std::optional<Tiempo> enPausa) const
{
    Tiempo reunido = enPausa.value_or(Tiempo::zero());
    if (!enPausa && ultimaEntrega_) {
        const Tiempo desde = ahora - *ultimaEntrega_;
        if (desde <= pausa || (espaciado_ && 2 * esperando * *espaciado_ >= desde))
            reunido = desde;
    }
    if (reunido <= Tiempo::zero())
        return tiempoByte_ * n;
    return reunido * n / std::max(esperando, n);
}

void RitmoLectura::entregado(qint64 n, Tiempo ahora)
{
    if (n > 0 && ultimaEntrega_ && ahora - *ultimaEntrega_ <= pausa) {
        const Tiempo uno = (ahora - *ultimaEntrega_) / n;
        espaciado_ = espaciado_ ? *espaciado_ + (uno - *espaciado_) / 8 : uno;
    }
    ultimaEntrega_ = ahora;
}

void RitmoLectura::reiniciar()
{
    ultimaEntrega_.reset();
    espaciado_.reset();
    inicioTramo_.reset();
    bytesTramo_ = 0;
}
