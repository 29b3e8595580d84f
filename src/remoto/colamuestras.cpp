#include "colamuestras.h"

void ColaMuestras::agregar(const lineaprotocolo::Muestra &m)
{
    if (capacidad_ == 0) {
        ++descartadas_;
        return;
    }
    if (muestras_.size() >= capacidad_) {
        muestras_.pop_front();
        ++descartadas_;
        if (enviadas_ > 0) {
            --enviadas_;
            if (--lotes_.front().cuantas == 0)
                lotes_.pop_front();
        }
    }
    muestras_.push_back(m);
}

std::optional<ColaMuestras::Lote> ColaMuestras::siguiente(const QByteArray &clave, size_t maximo)
{
    if (enviadas_ >= muestras_.size() || maximo == 0)
        return std::nullopt;
    Lote lote;
    lote.cuantas = std::min(maximo, muestras_.size() - enviadas_);
    lote.datos.reserve(qsizetype(lote.cuantas * (clave.size() + 64)));
    const auto primera = muestras_.cbegin() + qsizetype(enviadas_);
    lote.desde = primera->seq;
    for (auto m = primera; m != primera + qsizetype(lote.cuantas); ++m)
        lineaprotocolo::escribir(lote.datos, clave, *m);
    lote.hasta = (primera + qsizetype(lote.cuantas) - 1)->seq;
    return lote;
}

void ColaMuestras::enviado(int mid, const Lote &lote)
{
    lotes_.push_back({mid, lote.cuantas, false});
    enviadas_ += lote.cuantas;
}

void ColaMuestras::confirmado(int mid)
{
    for (EnVuelo &l : lotes_)
        if (l.mid == mid)
            l.confirmado = true;
    while (!lotes_.empty() && lotes_.front().confirmado) {
        const size_t n = lotes_.front().cuantas;
        muestras_.erase(muestras_.begin(), muestras_.begin() + qsizetype(n));
        enviadas_ -= n;
        lotes_.pop_front();
    }
}

void ColaMuestras::reenviarTodo()
{
    // Acknowledged batches behind an unacknowledged one go again too: simpler than a hole,
    // and the sequence numbers let a subscriber drop the repeats.
    lotes_.clear();
    enviadas_ = 0;
}
