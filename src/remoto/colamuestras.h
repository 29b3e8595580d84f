#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include <QByteArray>

#include "remoto/lineaprotocolo.h"

// The samples a bridge has read and the broker has not yet acknowledged, oldest first. They
// go out in batches; a batch leaves the queue when the broker acknowledges it, and everything
// not acknowledged when the connection drops goes again, in order, once it is back. Bounded:
// past `capacidad` the oldest go, counted (the log on disk keeps them).
class ColaMuestras
{
public:
    explicit ColaMuestras(size_t capacidad) : capacidad_(capacidad) {}

    void agregar(const lineaprotocolo::Muestra &m);

    struct Lote
    {
        int64_t desde = 0, hasta = 0; // sequence numbers
        size_t cuantas = 0;
        QByteArray datos;             // line protocol, one line a sample
    };
    // The next batch not yet sent, at most `maximo` samples, written after `clave`.
    std::optional<Lote> siguiente(const QByteArray &clave, size_t maximo);
    // The batch just taken went out under `mid`.
    void enviado(int mid, const Lote &lote);
    // The broker acknowledged `mid`: acknowledged batches at the front leave the queue.
    void confirmado(int mid);
    // The connection dropped: whatever was sent and not acknowledged goes again.
    void reenviarTodo();

    size_t pendientes() const { return muestras_.size(); }
    size_t sinEnviar() const { return muestras_.size() - enviadas_; }
    size_t enVuelo() const { return lotes_.size(); }
    uint64_t descartadas() const { return descartadas_; }
    size_t capacidad() const { return capacidad_; }

private:
    struct EnVuelo
    {
        int mid;
        size_t cuantas;
        bool confirmado;
    };
    size_t capacidad_;
    std::deque<lineaprotocolo::Muestra> muestras_;
    size_t enviadas_ = 0; // at the front, sent (in lotes_) and waiting for their acknowledgement
    std::deque<EnVuelo> lotes_;
    uint64_t descartadas_ = 0;
};
