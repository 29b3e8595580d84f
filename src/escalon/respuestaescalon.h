#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include <QString>

#include "core/reloj.h"
#include "escalon/medicion.h"
#include "escalon/registroescalon.h"

// The response to each change of the set point that samples carry, measured on the samples
// that follow with each sample's own time. Fed every sample in the receive path: constant
// work and no allocation per sample. The bookkeeping only (the samples before a step, its
// record, the last ten, the last figures): the figures come from medirEscalon() when they are
// asked for, and are kept while no sample comes.
class RespuestaEscalon
{
public:
    using Nota = NotaEscalon;
    using Figuras = FigurasEscalon;

    static constexpr int escalonesGuardados = 10;
    // Samples kept from before a step, since the set point last changed: its noise and the
    // value it started from.
    static constexpr int muestrasAntes = 256;

    // nullopt: the set point is not known yet. The first one known is where the loop was,
    // not a step.
    void agregar(Reloj::Instante instante, int16_t dato, std::optional<int16_t> setPoint);
    // At every opening of the port: the next set point reported is not a step either, the
    // current step keeps the samples it had (those after the gap are not its response), and
    // the noise of the next is measured on samples from now on.
    void olvidarSetPoint()
    {
        setPoint_.reset();
        terminado_ = terminado_ || grabando_;
        grabando_ = false;
        ultimasN_ = 0;
    }
    // The next change of the set point from `enviado` changes the current step's own value
    // (a second «Enviar» inside the first's second): the step keeps its start. Only where the
    // current step is the one `enviado` made.
    void corregirSiguiente(int16_t enviado)
    {
        corregir_ = grabando_ && hasta_ == enviado && setPoint_ == enviado;
    }
    // Where the samples come from (a port, a file): each step keeps the one it began under,
    // so a table of steps from two devices tells them apart.
    void setOrigen(const QString &origen) { origen_ = origen; }
    // The current step ends here (its next change, seen in a log).
    void terminar() { terminado_ = hayEscalon_; }

    Figuras actual() const;
    // The last steps, newest first, the current one included.
    int cuantos() const { return hayEscalon_ ? 1 + historiaN_ : 0; }
    // Steps seen since start: a new one changes it.
    long long numero() const { return numero_; }
    Figuras escalon(int i) const;
    QString origen(int i) const;
    // The current step's samples, for its picture.
    const RegistroEscalon &registro() const { return registro_; }

private:
    void empezar(Reloj::Instante instante, int16_t desde, int16_t hasta);

    std::optional<int16_t> setPoint_;
    bool hayEscalon_ = false;
    bool grabando_ = false;  // the current step takes the samples that come
    bool terminado_ = false; // the port closed during the current step
    bool corregir_ = false;
    long long numero_ = 0; // of the current step, since start
    Reloj::Instante inicio_{};
    int16_t desde_ = 0, hasta_ = 0;
    RegistroEscalon registro_;

    std::array<int16_t, muestrasAntes> ultimas_{}; // ring of the latest samples
    int ultimasSiguiente_ = 0, ultimasN_ = 0;
    std::array<double, muestrasAntes> antes_{}; // those before the current step, oldest first
    int antesN_ = 0;

    // The last figures and the step and samples they were measured on.
    mutable std::optional<Figuras> medidas_;
    mutable long long medidasNumero_ = -1, medidasMuestras_ = -1;
    mutable bool medidasTerminado_ = false;
    mutable int16_t medidasHasta_ = 0;

    std::array<Figuras, escalonesGuardados - 1> historia_{}; // steps before the current one
    int historiaSiguiente_ = 0, historiaN_ = 0;
    QString origen_, origenActual_; // now, and of the current step
    std::array<QString, escalonesGuardados - 1> historiaOrigen_{};
};
