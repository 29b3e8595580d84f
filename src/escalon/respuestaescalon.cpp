#include "respuestaescalon.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "escalon/ajuste.h"
#include "escalon/banda.h"
#include "escalon/cruces.h"
#include "escalon/pico.h"

namespace {

using Figuras = RespuestaEscalon::Figuras;
using Nota = RespuestaEscalon::Nota;

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

// Whether the mean of some 8 neighbours has left `y0` by more than the noise can take it.
bool movido(const double *y, int n, double y0, double sigma)
{
    const int k = std::min(n, 8);
    const double umbral = std::max(1.5, 5.0 * sigma / std::sqrt(k));
    double suma = 0.0;
    for (int i = 0; i < k; ++i)
        suma += y[i];
    for (int i = k;; ++i) {
        if (std::abs(suma / k - y0) > umbral)
            return true;
        if (i == n)
            return false;
        suma += y[i] - y[i - k];
    }
}

// Three points in a row at the line's limits: the value may be beyond them.
std::optional<double> saturado(const double *y, int n)
{
    for (int i = 2; i < n; ++i)
        for (const double limite : {0.0, 254.0})
            if (y[i] == limite && y[i - 1] == limite && y[i - 2] == limite)
                return limite;
    return std::nullopt;
}

// The change of the least-squares line over points [desde, n).
double cambio(const double *t, const double *y, int desde, int n)
{
    const int m = n - desde;
    double st = 0, sy = 0, stt = 0, sty = 0;
    for (int i = desde; i < n; ++i) {
        st += t[i];
        sy += y[i];
    }
    for (int i = desde; i < n; ++i) {
        stt += (t[i] - st / m) * (t[i] - st / m);
        sty += (t[i] - st / m) * (y[i] - sy / m);
    }
    return stt > 0 ? sty / stt * (t[n - 1] - t[desde]) : 0.0;
}

// The mean of the last samples before the step where they are flat (a line through them
// moves less than the noise allows), so the start they give is where the loop rested.
std::optional<double> planoAntes(const double *y, int n, double sigma)
{
    const int k = std::min(n, 64);
    if (k < 4)
        return std::nullopt;
    std::vector<double> t(static_cast<size_t>(k));
    for (int i = 0; i < k; ++i)
        t[size_t(i)] = i;
    if (std::abs(cambio(t.data(), y + n - k, 0, k)) > std::max(1.0, 3.0 * sigma * std::sqrt(12.0 / k)))
        return std::nullopt;
    double suma = 0.0;
    for (int i = n - k; i < n; ++i)
        suma += y[i];
    return suma / k;
}

// What the samples show without a model: the rise on the way to the set point and the
// furthest value, on samples smoothed just enough that noise moves no crossing by much.
void figurasDeMuestras(Figuras &f, const double *t, const double *y, int n)
{
    const double amplitud = f.hasta - f.inicial;
    if (amplitud == 0.0 || n == 0)
        return;
    const double sentido = amplitud > 0 ? 1.0 : -1.0;
    const double r = 40.0 * f.ruido / std::abs(amplitud);
    std::vector<double> s(static_cast<size_t>(n));
    suavizar(y, n, std::clamp(int(std::ceil(r * r)), 1, 32), s.data());
    Cruce a10(f.inicial + 0.1 * amplitud, sentido), a90(f.inicial + 0.9 * amplitud, sentido);
    Pico pico(sentido);
    for (int i = 0; i < n; ++i) {
        a10.agregar(t[i], s[size_t(i)]);
        a90.agregar(t[i], s[size_t(i)]);
        pico.agregar(t[i], s[size_t(i)]);
    }
    f.nivel10 = a10.nivel();
    f.nivel90 = a90.nivel();
    if (a10.cuando() && a90.cuando())
        f.subida = *a90.cuando() - *a10.cuando();
    f.pico = pico.valor();
    f.tiempoPico = pico.tiempo();
    // Still on its way up at the end, the peak may be yet to come.
    f.picoProvisional = pico.tiempo() >= 0.9 * t[n - 1];
}

// Where the noise is only whole counts, the figures the samples show: their own peak, and the
// settling into the band around the whole count they end at.
void figurasExactas(Figuras &f, const double *t, const double *y, int n)
{
    f.valorFinal = std::round(*f.valorFinal);
    const double amplitud = *f.valorFinal - f.inicial, sentido = amplitud > 0 ? 1.0 : -1.0;
    f.banda = std::max(0.05 * std::abs(amplitud), 1.0);
    f.nivel10 = f.inicial + 0.1 * amplitud;
    f.nivel90 = f.inicial + 0.9 * amplitud;
    Cruce a10(f.nivel10, sentido), a90(f.nivel90, sentido);
    Pico pico(sentido);
    Banda banda(*f.valorFinal, *f.banda);
    for (int i = 0; i < n; ++i) {
        a10.agregar(t[i], y[i]);
        a90.agregar(t[i], y[i]);
        pico.agregar(t[i], y[i]);
        banda.agregar(t[i], y[i]);
    }
    f.subida.reset();
    if (a10.cuando() && a90.cuando())
        f.subida = *a90.cuando() - *a10.cuando();
    const double exceso = (pico.valor() - *f.valorFinal) * sentido;
    f.pico = exceso > 0 ? pico.valor() : *f.valorFinal;
    f.sobreimpulso = std::max(exceso, 0.0) / std::abs(amplitud) * 100.0;
    f.tiempoPico = exceso > 0 ? std::optional(pico.tiempo()) : std::nullopt;
    f.establecimiento = banda.dentro() ? std::optional(banda.entrada()) : std::nullopt;
    f.error = f.hasta - *f.valorFinal;
}

} // namespace

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
        Figuras f = actual();
        f.cortado = f.cortado || (!f.pequeno && (!f.valorFinal || f.finalProvisional));
        historia_[historiaSiguiente_] = f;
        historiaSiguiente_ = (historiaSiguiente_ + 1) % int(historia_.size());
        historiaN_ = std::min(historiaN_ + 1, int(historia_.size()));
    }
    hayEscalon_ = grabando_ = true;
    cortado_ = false;
    ++numero_;
    previo_.reset();
    inicio_ = instante;
    desde_ = desde;
    hasta_ = hasta;
    registro_.empezar();
    // The samples since the set point last changed, then none: the next step's noise is
    // measured on this one's samples alone.
    antesN_ = ultimasN_;
    for (int i = 0; i < antesN_; ++i)
        antes_[i] = ultimas_[(ultimasSiguiente_ - antesN_ + i + muestrasAntes) % muestrasAntes];
    ultimasN_ = 0;
}

RespuestaEscalon::Figuras RespuestaEscalon::actual() const
{
    if (!medidas_ || medidasNumero_ != numero_ || medidasMuestras_ != registro_.muestras()
        || medidasCortado_ != cortado_) {
        medidas_ = medir();
        medidasNumero_ = numero_;
        medidasMuestras_ = registro_.muestras();
        medidasCortado_ = cortado_;
    }
    return *medidas_;
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
    f.cortado = cortado_;
    f.espaciado = registro_.espaciado();
    const int n = registro_.puntos();
    const double *t = registro_.tiempos(), *y = registro_.valores();
    const double *cuenta = registro_.cuentas();

    // The noise before the step; with too few samples there, on the step's own first ones.
    std::optional<double> medido = ruidoRobusto(antes_.data(), antesN_);
    if (!medido) {
        int k = 0;
        while (k < std::min(n, muestrasAntes) && cuenta[k] == 1.0)
            ++k;
        medido = ruidoRobusto(y, k);
    }
    const double sigma = std::max(medido.value_or(0.0), cuantizacion);
    f.ruido = sigma;
    const double salto = double(hasta_) - double(desde_);
    if (std::abs(salto) < std::max(4.0, 4.0 * sigma)) {
        f.pequeno = true;
        f.nota = Nota::pequeno;
        return f;
    }
    if (n == 0)
        return f;
    // Where it started: the last samples before the step, else its first.
    f.inicial = y[0];
    if (antesN_ > 0) {
        const int k = std::min(4, antesN_);
        f.inicial = 0.0;
        for (int i = antesN_ - k; i < antesN_; ++i)
            f.inicial += antes_[i] / k;
    }
    if (!movido(y, n, f.inicial, sigma)) {
        f.nota = Nota::sinRespuesta;
        return f;
    }
    if (saturado(y, n)) {
        f.nota = Nota::saturada;
        figurasDeMuestras(f, t, y, n);
        return f;
    }

    // Each point's variance: its samples' noise, averaged down, but never under what whole
    // counts leave, which averaging does not remove from a clean signal. Where the samples
    // before the step are flat they come first, as their mean: the start it had.
    std::vector<double> pt, py, pv;
    if (const std::optional<double> antes = planoAntes(antes_.data(), antesN_, sigma)) {
        pt.push_back(-std::max(f.espaciado, 1e-3));
        py.push_back(*antes);
        pv.push_back(std::max(sigma * sigma / std::min(antesN_, 64), 0.01));
    }
    for (int i = 0; i < n; ++i) {
        pt.push_back(t[i]);
        py.push_back(y[i]);
        pv.push_back(std::max(sigma * sigma / cuenta[i], cuantizacion * cuantizacion));
    }
    const std::optional<Ajuste> ajuste =
        ajustar({pt.data(), py.data(), pv.data(), int(pt.size())}, previo_);
    if (!ajuste) {
        f.nota = Nota::corta;
        figurasDeMuestras(f, t, y, n);
        return f;
    }
    previo_ = ajuste->modelo;
    const Modelo &m = ajuste->modelo;
    f.residuo = sigma * std::sqrt(ajuste->chi2 / std::max(1, ajuste->libres));
    const double amplitud = m.final - m.inicial, fin = registro_.ultimo();
    const double banda = std::max(0.05 * std::abs(amplitud), 1.0);

    // The model stands for the loop only where it fits and where the samples hold its end.
    Nota nota = Nota::ninguna;
    if (m.oscila() && fin - m.retardo > 1.5 * m.periodo()
        && std::exp(-(fin - m.retardo) / m.constante()) > 0.5) {
        nota = Nota::sinAmortiguar;
        f.periodo = m.periodo();
    } else if (const bool noAjusta = *f.residuo > std::hypot(1.5 * sigma, 0.5);
               noAjusta || !(m.final >= -0.5 && m.final <= 254.5)) {
        // Past the set point and still going the same way, straight: a runaway.
        const double sentido = hasta_ > f.inicial ? 1.0 : -1.0;
        const bool rampa = cambio(t, y, n / 2, n) * sentido > banda
                           && (y[n - 1] - hasta_) * sentido > banda;
        nota = rampa ? Nota::rampa : noAjusta ? Nota::noSeAjusta : Nota::corta;
    } else if (!(ajuste->dFinal <= std::abs(amplitud) / 4)) {
        nota = Nota::corta;
    }
    if (nota != Nota::ninguna) {
        f.nota = nota;
        figurasDeMuestras(f, t, y, n);
        return f;
    }

    f.modelo = m;
    f.inicial = m.inicial;
    f.valorFinal = m.final;
    f.nivel10 = m.inicial + 0.1 * amplitud;
    f.nivel90 = m.inicial + 0.9 * amplitud;
    if (const auto a = m.alcanza(0.1), b = m.alcanza(0.9); a && b)
        f.subida = *b - *a;
    f.sobreimpulso = 100.0 * m.sobrepaso();
    f.pico = m.final + m.sobrepaso() * amplitud;
    f.tiempoPico = m.tiempoPico();
    f.banda = banda;
    if (const double e = m.establecimiento(banda / std::abs(amplitud)); std::isfinite(e))
        f.establecimiento = e;
    f.error = hasta_ - m.final;
    if (m.primerOrden())
        f.constante = m.constante();
    else {
        f.zeta = m.zeta();
        f.wn = m.wn();
    }
    f.retardo = m.retardo;
    // Whole counts and nothing more: the samples' own figures.
    if (medido.value_or(0.0) < 0.25 && *f.residuo < 0.45) {
        f.inicial = std::round(f.inicial);
        figurasExactas(f, t, y, n);
    }
    f.errorPorciento = *f.error / std::abs(salto) * 100.0;

    // Final once the model has settled within the samples and its final value is known to a
    // quarter of the band; the settling once it has held for twice the slowest decay.
    const bool seguro = f.establecimiento && *f.establecimiento <= fin
                        && ajuste->dFinal <= *f.banda / 4;
    f.finalProvisional = f.subidaProvisional = !seguro;
    const double trasPico = m.oscila() ? m.periodo() / 4 : m.constante();
    f.picoProvisional = !seguro || (f.tiempoPico && fin < *f.tiempoPico + trasPico);
    f.establecimientoProvisional = !seguro || fin < *f.establecimiento + 2.0 * m.constante();
    return f;
}

RespuestaEscalon::Figuras RespuestaEscalon::escalon(int i) const
{
    if (i == 0)
        return actual();
    const int n = int(historia_.size());
    return historia_[((historiaSiguiente_ - i) % n + n) % n];
}
