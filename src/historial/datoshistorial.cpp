#include "datoshistorial.h"

#include <algorithm>
#include <cmath>

namespace {

void unir(DatosHistorial::Rango &r, DatosHistorial::Rango o)
{
    r.minimo = std::min(r.minimo, o.minimo);
    r.maximo = std::max(r.maximo, o.maximo);
}

} // namespace

void DatosHistorial::agregar(const LectorLineas::Muestra &m)
{
    int64_t t = m.ms;
    if (!ms_.empty() && t < ms_.back()) {
        t = ms_.back();
        ++atrasados_;
    }
    ms_.push_back(t);
    valor_.push_back(m.valor);
    setPoint_.push_back(m.setPoint);
    conMs_.push_back(m.conMs);
    subir(ms_.size() - 1);
}

void DatosHistorial::vaciar()
{
    *this = DatosHistorial();
}

DatosHistorial::Rango DatosHistorial::base(int serie, size_t i) const
{
    if (serie == 0)
        return {valor_[i], valor_[i]};
    const uint8_t s = setPoint_[i];
    return s == LectorLineas::sinSetPoint ? Rango{} : Rango{s, s};
}

void DatosHistorial::subir(size_t i)
{
    for (int serie = 0; serie < 2; ++serie) {
        const Rango r = base(serie, i);
        auto &nivel = niveles_[serie];
        size_t j = i;
        for (size_t k = 0;; ++k) {
            j /= ramas;
            if (k == nivel.size()) {
                // A level on top once the one below holds two items: its one block covers all.
                const size_t abajo = k == 0 ? ms_.size() : nivel[k - 1].size();
                if (abajo <= 1)
                    break;
                Rango todo;
                for (size_t x = 0; x < abajo; ++x)
                    unir(todo, k == 0 ? base(serie, x) : nivel[k - 1][x]);
                nivel.push_back({todo});
                break;
            }
            if (j == nivel[k].size())
                nivel[k].emplace_back();
            unir(nivel[k][j], r);
        }
    }
}

DatosHistorial::Rango DatosHistorial::rango(int serie, size_t a, size_t b) const
{
    Rango r;
    b = std::min(b, ms_.size());
    const auto &nivel = niveles_[serie];
    for (size_t k = 0; a < b; ++k) {
        const auto en = [&](size_t i) { return k == 0 ? base(serie, i) : nivel[k - 1][i]; };
        if (k == nivel.size()) {
            while (a < b)
                unir(r, en(a++));
            break;
        }
        // The ends that do not fill a block of the level above, then that level.
        while (a < b && a % ramas)
            unir(r, en(a++));
        while (a < b && b % ramas)
            unir(r, en(--b));
        a /= ramas;
        b /= ramas;
    }
    return r;
}

size_t DatosHistorial::desde(int64_t ms) const
{
    return size_t(std::lower_bound(ms_.begin(), ms_.end(), ms) - ms_.begin());
}

std::vector<DatosHistorial::Columna> DatosHistorial::columnas(double t0, double t1,
                                                              int columnas) const
{
    std::vector<Columna> salida;
    if (columnas <= 0 || !(t1 > t0))
        return salida;
    salida.reserve(size_t(columnas));
    const double paso = (t1 - t0) / columnas;
    size_t a = desde(int64_t(std::ceil(t0 * 1000)));
    for (int c = 0; c < columnas; ++c) {
        const size_t b = desde(int64_t(std::ceil((t0 + paso * (c + 1)) * 1000)));
        salida.push_back({t0 + paso * (c + 0.5), rangoValor(a, b), rangoSetPoint(a, b)});
        a = b;
    }
    return salida;
}
