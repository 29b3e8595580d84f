#include "respuestaescalon.h"

#include <algorithm>
#include <cmath>

#include "escalon/banda.h"
#include "escalon/cruces.h"
#include "escalon/oscilacion.h"
#include "escalon/pico.h"

namespace {

// Rounding to whole counts alone spreads a value by this much.
const double cuantizacion = 1.0 / std::sqrt(12.0);

// Centred moving mean of `ancho` points, narrower at the ends.
void suavizar(const double *y, int n, int ancho, double *s)
{
    const int antes = ancho / 2, despues = ancho - 1 - antes;
    double suma = 0.0;
    int lo = 0, hi = -1;
    for (int i = 0; i < n; ++i) {
        while (hi < std::min(n - 1, i + despues))
            suma += y[++hi];
        while (lo < i - antes)
            suma -= y[lo++];
        s[i] = suma / (hi - lo + 1);
    }
}

} // namespace

std::optional<double> RespuestaEscalon::ruido(const double *y, int n)
{
    if (n < 16)
        return std::nullopt;
    double suma = 0.0, suma2 = 0.0;
    for (int i = 1; i < n; ++i) {
        const double d = y[i] - y[i - 1];
        suma += d;
        suma2 += d * d;
    }
    const double m = n - 1;
    return std::sqrt(std::max(0.0, suma2 / m - (suma / m) * (suma / m)) / 2.0);
}

void RespuestaEscalon::agregar(Reloj::Instante instante, int16_t dato,
                               std::optional<int16_t> setPoint)
{
    if (setPoint && setPoint_ && *setPoint != *setPoint_)
        empezar(instante, *setPoint_, *setPoint);
    setPoint_ = setPoint;
    if (grabando_)
        registro_.agregar(std::chrono::duration<double>(instante - inicio_).count(), dato);
    ultimas_[ultimasSiguiente_] = dato;
    ultimasSiguiente_ = (ultimasSiguiente_ + 1) % muestrasAntes;
    ultimasN_ = std::min(ultimasN_ + 1, muestrasAntes);
}

void RespuestaEscalon::empezar(Reloj::Instante instante, int16_t desde, int16_t hasta)
{
    if (hayEscalon_) {
        historia_[historiaSiguiente_] = medir();
        historiaSiguiente_ = (historiaSiguiente_ + 1) % int(historia_.size());
        historiaN_ = std::min(historiaN_ + 1, int(historia_.size()));
    }
    hayEscalon_ = grabando_ = true;
    inicio_ = instante;
    desde_ = desde;
    hasta_ = hasta;
    registro_.empezar();
    antesN_ = ultimasN_;
    for (int i = 0; i < antesN_; ++i)
        antes_[i] = ultimas_[(ultimasSiguiente_ - antesN_ + i + muestrasAntes) % muestrasAntes];
    ruidoAntes_ = ruido(antes_.data(), antesN_);
}

RespuestaEscalon::Figuras RespuestaEscalon::medir() const
{
    Figuras f;
    if (!hayEscalon_)
        return f;
    f.hay = true;
    f.desde = desde_;
    f.hasta = hasta_;
    f.inicio = inicio_;
    f.espaciado = registro_.espaciado();
    const int n = registro_.puntos();
    const double *t = registro_.tiempos();
    const double *y = registro_.valores();
    const double porPunto = registro_.muestrasPorPunto();

    // Without a stretch before the step, the noise is read on its own last points.
    const int cola = std::min(n, muestrasAntes);
    std::optional<double> medido = ruidoAntes_;
    if (!medido)
        if ((medido = ruido(y + n - cola, cola)))
            *medido *= std::sqrt(porPunto);
    const double sigma = std::max(medido.value_or(0.0), cuantizacion);
    const double salto = double(hasta_) - double(desde_);
    const double minimo = std::max(4.0, 8.0 * sigma);
    if (std::abs(salto) < minimo) {
        f.pequeno = true;
        return f;
    }
    if (n == 0)
        return f;

    // Smoothing a third of the way to half the step: short beside the rise, so it moves no
    // crossing, and long enough that noise neither makes a peak nor leaves the band. The way
    // is counted from the last point still short of a tenth of the step: a dead time before
    // the response starts is no part of its course.
    int mitad = n;
    for (int i = 0; i < n; ++i)
        if ((y[i] - y[0]) * salto >= salto * salto / 2) {
            mitad = i;
            break;
        }
    int arranque = 0;
    for (int i = std::min(mitad, n - 1); i > 0; --i)
        if ((y[i] - y[0]) * salto < salto * salto / 10) {
            arranque = i;
            break;
        }
    const int ancho =
        sigma > 1.2 * cuantizacion ? std::clamp((mitad - arranque) / 2, 1, 64) : 1;
    suavizar(y, n, ancho, suave_.data());
    const double ruidoPunto = sigma / std::sqrt(porPunto);
    const double ruidoSuave = ruidoPunto / std::sqrt(ancho);

    // The value it started from: its first sample, averaged like the rest with the samples
    // just before it, which is still right for a value that was moving.
    double suma = 0.0;
    int cuantas = 0;
    for (int i = std::max(0, antesN_ - ancho / 2); i < antesN_; ++i, ++cuantas)
        suma += antes_[i];
    for (int i = 0; i < std::min(n, (ancho + 1) / 2); ++i, ++cuantas)
        suma += y[i];
    const double y0 = suma / cuantas;
    f.inicial = y0;

    const std::optional<TramoPlano> tramo = tramoPlano(t, y, n, ruidoPunto);
    // Until it is flat, the 10 % and 90 % levels are taken on the way to the set point.
    const double destino = tramo ? tramo->valor : hasta_;
    const double amplitud = destino - y0;
    // A value that has not moved yet (a dead time, a loop that does not answer) has no
    // response to measure: no figure rather than a final value it may still leave.
    if (std::abs(amplitud) < minimo / 2)
        return f;
    if (tramo) {
        f.valorFinal = tramo->valor;
        f.error = hasta_ - tramo->valor;
        f.errorPorciento = *f.error / std::abs(salto) * 100.0;
    }
    if (amplitud == 0.0)
        return f;
    const double sentido = amplitud > 0 ? 1.0 : -1.0;
    const double banda = std::max({0.05 * std::abs(amplitud), 1.0, 3.0 * ruidoSuave});

    Cruce a10(y0 + 0.1 * amplitud, sentido), a90(y0 + 0.9 * amplitud, sentido);
    Pico pico(sentido);
    Banda enBanda(destino, banda);
    Oscilacion oscilacion(destino, banda);
    for (int i = 0; i < n; ++i) {
        a10.agregar(t[i], suave_[i]);
        a90.agregar(t[i], suave_[i]);
        pico.agregar(t[i], suave_[i]);
        enBanda.agregar(t[i], suave_[i]);
        oscilacion.agregar(t[i], suave_[i]);
    }
    f.nivel10 = a10.nivel();
    f.nivel90 = a90.nivel();
    if (a10.cuando() && a90.cuando())
        f.subida = *a90.cuando() - *a10.cuando();

    // Settled: inside the band since before the flat stretch began.
    const bool asentado = tramo && enBanda.dentro() && enBanda.entrada() <= t[tramo->desde];
    if (!asentado)
        f.periodo = oscilacion.periodo();
    if (!tramo)
        return f;
    f.banda = banda;
    if (asentado)
        f.establecimiento = enBanda.entrada();
    // A peak counts only if it stands out of what whole counts and the noise can make.
    const double exceso = (pico.valor() - destino) * sentido;
    if (exceso > 0.5 + 4.0 * ruidoSuave) {
        f.pico = pico.valor();
        f.sobreimpulso = exceso / std::abs(amplitud) * 100.0;
        f.tiempoPico = pico.tiempo();
    } else {
        f.pico = destino;
        f.sobreimpulso = 0.0;
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
