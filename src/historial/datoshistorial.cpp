#include "datoshistorial.h"

#include "chart/cursores.h"

#include <algorithm>
#include <cmath>

void DatosHistorial::agregar(const Bloque &b)
{
    const size_t i = bloques_.size();
    bloques_.push_back(b);
    bloques_.back().primero = i == 0 ? 0 : bloques_[i - 1].primero + bloques_[i - 1].n;
    if (b.sesion || sesiones_.empty())
        sesiones_.push_back({i, i, bloques_.back().primero, 0, b.t0, b.t1});
    Sesion &s = sesiones_.back();
    s.bloque1 = i + 1;
    s.n += b.n;
    s.t1 = b.t1;
}

void DatosHistorial::recortar(size_t desde)
{
    if (desde >= bloques_.size())
        return;
    std::vector<Bloque> quedan(bloques_.begin(), bloques_.begin() + ptrdiff_t(desde));
    vaciar();
    for (const Bloque &b : quedan)
        agregar(b);
}

void DatosHistorial::vaciar()
{
    *this = DatosHistorial();
}

size_t DatosHistorial::sesionDe(size_t bloque) const
{
    const auto it = std::upper_bound(sesiones_.begin(), sesiones_.end(), bloque,
                                     [](size_t b, const Sesion &s) { return b < s.bloque0; });
    return size_t(it - sesiones_.begin()) - 1;
}

size_t DatosHistorial::bloqueDe(uint64_t i) const
{
    const auto it = std::upper_bound(bloques_.begin(), bloques_.end(), i,
                                     [](uint64_t x, const Bloque &b) { return x < b.primero; });
    return it == bloques_.begin() ? 0 : size_t(it - bloques_.begin()) - 1;
}

size_t DatosHistorial::bloqueEn(int64_t ms) const
{
    return size_t(std::lower_bound(bloques_.begin(), bloques_.end(), ms,
                                   [](const Bloque &b, int64_t t) { return b.t1 < t; })
                  - bloques_.begin());
}

const std::vector<DatosHistorial::Cruda> *DatosHistorial::crudas(size_t bloque) const
{
    const auto it = crudas_.find(bloque);
    if (it == crudas_.end())
        return nullptr;
    uso_.splice(uso_.end(), uso_, it->second.second);
    return &it->second.first;
}

void DatosHistorial::guardarCrudas(size_t bloque, std::vector<Cruda> muestras)
{
    if (bloque >= bloques_.size() || muestras.size() != bloques_[bloque].n)
        return; // read for blocks that are no longer these
    if (crudas(bloque))
        return;
    while (crudas_.size() >= bloquesGuardados) {
        crudas_.erase(uso_.front());
        uso_.pop_front();
    }
    uso_.push_back(bloque);
    crudas_.emplace(bloque, std::make_pair(std::move(muestras), std::prev(uso_.end())));
}

const DatosHistorial::Cruda *DatosHistorial::muestra(uint64_t i) const
{
    if (i >= cuantos())
        return nullptr;
    const size_t b = bloqueDe(i);
    const std::vector<Cruda> *c = crudas(b);
    return c ? &(*c)[size_t(i - bloques_[b].primero)] : nullptr;
}

bool DatosHistorial::cercana(int64_t ms, uint64_t &i, std::vector<size_t> &faltan) const
{
    if (bloques_.empty())
        return false;
    const size_t b = std::min(bloqueEn(ms), bloques_.size() - 1);
    const std::vector<Cruda> *c = crudas(b);
    const std::vector<Cruda> *antes = b > 0 ? crudas(b - 1) : nullptr;
    if (!c || (b > 0 && !antes)) {
        if (!c)
            faltan.push_back(b);
        if (b > 0 && !antes)
            faltan.push_back(b - 1);
        return false;
    }
    const auto it = std::lower_bound(c->begin(), c->end(), ms,
                                     [](const Cruda &m, int64_t t) { return m.ms < t; });
    uint64_t j = bloques_[b].primero + uint64_t(it - c->begin());
    const int64_t tj = it == c->end() ? INT64_MAX : it->ms;
    if (j > 0) {
        const Cruda &previa = it == c->begin() ? antes->back() : *(it - 1);
        if (it == c->end() || ms - previa.ms < tj - ms)
            --j;
    }
    i = j;
    return true;
}

std::vector<DatosHistorial::Columna> DatosHistorial::columnas(double t0, double t1,
                                                              int columnas) const
{
    std::vector<Columna> salida;
    if (columnas <= 0 || !(t1 > t0))
        return salida;
    salida.resize(size_t(columnas));
    const double paso = (t1 - t0) / columnas;
    for (int c = 0; c < columnas; ++c)
        salida[size_t(c)].t = t0 + paso * (c + 0.5);
    const auto columna = [&](int64_t ms) {
        return int(std::clamp(std::floor((ms / 1000.0 - t0) / paso), -1.0, double(columnas)));
    };
    int ultima = -1; // the last column with samples
    for (size_t i = bloqueEn(int64_t(std::floor(t0 * 1000))); i < bloques_.size(); ++i) {
        const Bloque &b = bloques_[i];
        if (b.t0 >= t1 * 1000)
            break;
        const int a = std::max(0, columna(b.t0)), z = std::min(columnas - 1, columna(b.t1));
        if (b.sesion && ultima >= 0 && ultima < a)
            salida[size_t(a)].corte = true;
        for (int c = a; c <= z; ++c) {
            salida[size_t(c)].valor.unir(b.minimo, b.maximo);
            if (b.conSetPoint > 0)
                salida[size_t(c)].setPoint.unir(b.spMinimo, b.spMaximo);
        }
        ultima = std::max(ultima, z);
    }
    return salida;
}

bool DatosHistorial::sumar(uint64_t a, uint64_t b, Suma &s, std::vector<size_t> &faltan) const
{
    s = Suma();
    if (a > b)
        std::swap(a, b);
    if (b >= cuantos())
        return false;
    const size_t ba = bloqueDe(a), bb = bloqueDe(b);
    const std::vector<Cruda> *ca = crudas(ba), *cb = crudas(bb);
    if (!ca || !cb) {
        if (!ca)
            faltan.push_back(ba);
        if (!cb && bb != ba)
            faltan.push_back(bb);
        return false;
    }
    const auto una = [&s](const Cruda &m) {
        ++s.n;
        s.valor += m.valor;
        s.cuadrados += uint64_t(m.valor) * m.valor;
        s.minimo = std::min(s.minimo, m.valor);
        s.maximo = std::max(s.maximo, m.valor);
        if (m.setPoint != sinSetPoint) {
            ++s.conSetPoint;
            s.setPoint += m.setPoint;
        }
    };
    const auto parte = [&](size_t bloque, const std::vector<Cruda> &c, uint64_t desde, uint64_t hasta) {
        for (uint64_t i = desde; i <= hasta; ++i)
            una(c[size_t(i - bloques_[bloque].primero)]);
    };
    if (ba == bb) {
        parte(ba, *ca, a, b);
    } else {
        parte(ba, *ca, a, bloques_[ba].primero + bloques_[ba].n - 1);
        for (size_t i = ba + 1; i < bb; ++i) {
            const Bloque &k = bloques_[i];
            s.n += k.n;
            s.valor += k.sumaValor;
            s.cuadrados += k.sumaCuadrados;
            s.minimo = std::min(s.minimo, k.minimo);
            s.maximo = std::max(s.maximo, k.maximo);
            s.conSetPoint += k.conSetPoint;
            s.setPoint += k.sumaSetPoint;
        }
        parte(bb, *cb, bloques_[bb].primero, b);
    }
    for (size_t i = ba + 1; i <= bb; ++i)
        if (bloques_[i].sesion) {
            ++s.pausas;
            s.msPausas += bloques_[i].t0 - bloques_[i - 1].t1;
        }
    return true;
}

bool DatosHistorial::figurasCursores(uint64_t a, uint64_t b, FigurasCursores &f, std::vector<size_t> &faltan) const
{
    Suma s;
    const Cruda *ma = muestra(a), *mb = muestra(b);
    if (!ma || !mb || !sumar(a, b, s, faltan))
        return false;
    f.n = s.n;
    f.conSetPoint = s.conSetPoint;
    f.sumaValor = s.valor;
    f.sumaCuadrados = s.cuadrados;
    f.sumaSetPoint = s.setPoint;
    f.minimo = s.minimo;
    f.maximo = s.maximo;
    f.tB = (mb->ms - ma->ms) / 1000.0; // from A: the figures need only the difference
    f.valorA = ma->valor;
    f.valorB = mb->valor;
    f.pausas = s.pausas;
    f.segundosPausas = s.msPausas / 1000.0;
    return true;
}
