#include "adquisicion.h"

#include "chart/ventanamuestras.h"
#include "core/variablesventana.h"
#include "log/registro.h"
#include "serial/puertoserie.h"

Adquisicion::Adquisicion(VariablesVentana &variables, VentanaMuestras &ventana,
                         Registro &registro)
    : variables_(variables), ventana_(ventana), registro_(registro)
{
}

void Adquisicion::procesarEntrada(int16_t codigo, QByteArrayView entrada,
                                  std::chrono::nanoseconds llegada)
{
    if (codigo != evento::comEvReceive || entrada.isEmpty())
        return;

    // The handler runs to completion, so nothing can change the box or see the read-outs
    // between two samples of this event: read the one once, keep the other for the end.
    // Samples that come while the log asks about old records wait for the answer there.
    const bool marcado = registro_.registrando();
    const bool retener = marcado && registro_.preguntando();
    bool registrar = marcado && !retener;
    const bool conHora = marcado || oyente_;
    bool huboMuestra = false;
    float transcurrido = 0.0f;
    int16_t dato = 0;

    VariablesVentana &v = variables_;
    // One clock reading per event. Where the bytes came over a stretch (gathered while reading
    // paused), each sample gets its share of it, so the read-out shows the controller's spacing.
    const Reloj::Instante ahora = reloj_.instante();
    const Reloj::Pared pared = conHora ? reloj_.pared() : Reloj::Pared{};
    Reloj::Instante::duration paso{};
    int pendientes = 0; // samples of this event not handled yet
    if (llegada > std::chrono::nanoseconds::zero()) {
        using std::chrono::duration_cast;
        Reloj::Instante desde = ahora - duration_cast<Reloj::Instante::duration>(llegada);
        if (v.tiempoAnterior && *v.tiempoAnterior > desde)
            desde = std::min(*v.tiempoAnterior, ahora);
        pendientes = contarMuestras(entrada, v.esperaSetPoint);
        if (pendientes > 0)
            paso = (ahora - desde) / pendientes;
    }

    for (const char c : entrada) {
        const uint8_t b = static_cast<uint8_t>(c);
        if (v.esperaSetPoint) {
            v.esperaSetPoint = false;
            if (!enVuelo_ || !enVuelo(b, ahora))
                v.setPoint = b;
            continue;
        }
        if (b >= marcaSetPoint) {
            v.esperaSetPoint = true;
            continue;
        }
        dato = b;
        if (pendientes > 0)
            --pendientes;
        const Reloj::Instante instante = ahora - paso * pendientes;
        transcurrido = muestra(dato, instante, conHora ? msEpoca(pared, ahora, instante) : 0,
                               registrar, retener);
        huboMuestra = true;
    }
    terminarEvento(huboMuestra, registrar, transcurrido, dato);
}

void Adquisicion::procesarMuestras(std::span<const lineaprotocolo::Muestra> muestras)
{
    if (muestras.empty())
        return;
    const bool marcado = registro_.registrando();
    const bool retener = marcado && registro_.preguntando();
    bool registrar = marcado && !retener;
    float transcurrido = 0.0f;
    VariablesVentana &v = variables_;
    const Reloj::Instante ahora = reloj_.instante();
    const Reloj::Pared pared = reloj_.pared();
    for (const lineaprotocolo::Muestra &m : muestras) {
        const std::optional<int16_t> setPoint =
            m.consigna ? std::optional<int16_t>(*m.consigna) : std::nullopt;
        if (setPoint != v.setPoint && !(m.consigna && enVuelo_ && enVuelo(*m.consigna, ahora)))
            v.setPoint = setPoint;
        // Its own time on this computer's steady clock: never ahead of now (the other
        // computer's clock may be), never before the sample before it.
        const auto antes = pared - Reloj::Pared(std::chrono::milliseconds(m.msEpoca));
        Reloj::Instante instante =
            ahora - std::max(Reloj::Instante::duration::zero(),
                             std::chrono::duration_cast<Reloj::Instante::duration>(antes));
        if (v.tiempoAnterior && instante < *v.tiempoAnterior)
            instante = *v.tiempoAnterior;
        ultimoMs_ = std::max(ultimoMs_, m.msEpoca);
        transcurrido = muestra(m.valor, instante, m.msEpoca, registrar, retener);
    }
    terminarEvento(true, registrar, transcurrido, muestras.back().valor);
}

inline float Adquisicion::muestra(int16_t dato, Reloj::Instante instante, int64_t ms,
                                  bool &registrar, bool retener)
{
    VariablesVentana &v = variables_;
    float transcurrido;
    // Before any sample the read-out shows the time of day, as the panel always has.
    if (v.tiempoAnterior) {
        transcurrido = Reloj::segundosEntre(*v.tiempoAnterior, instante);
        if (!corte_.isEmpty() || transcurrido > pausaMinima || espaciado_ <= 0.0f) {
            cortar(transcurrido);
        } else {
            // Floored: a burst timed at one instant must not wear it down to nothing.
            espaciado_ = std::max(espaciado_ + (transcurrido - espaciado_) / 16.0f, espaciadoMinimo);
            trasCorte_ = false;
        }
    } else {
        transcurrido = static_cast<float>(Reloj::segundosMedianoche(reloj_.pared()));
    }
    v.tiempoAnterior = instante;
    respuesta_.agregar(instante, dato, v.setPoint);
    ventana_.agregarMuestra(dato, v.setPoint.value_or(VentanaMuestras::sinSetPoint),
                            std::chrono::duration_cast<std::chrono::nanoseconds>(
                                instante.time_since_epoch()).count());
    if (registrar && !registro_.escribirRegistro(dato, v.setPoint, ms))
        registrar = false;
    else if (retener)
        registro_.retener(dato, v.setPoint, ms);
    if (oyente_)
        oyente_(dato, v.setPoint, ms);
    ventana_.recortarVentana(v.puntosX);
    ++muestras_;
    return transcurrido;
}

void Adquisicion::terminarEvento(bool huboMuestra, bool registrar, float transcurrido, int16_t dato)
{
    if (registrar)
        registro_.terminarEvento();
    if (!huboMuestra)
        return;
    ultimoTranscurrido_ = transcurrido;
    ultimoDato_ = dato;
    ultimoSetPoint_ = variables_.setPoint;
    lecturaNueva_ = true;
    if (alRecibir_)
        alRecibir_();
}

int64_t Adquisicion::msEpoca(Reloj::Pared pared, Reloj::Instante ahora, Reloj::Instante instante)
{
    using namespace std::chrono;
    int64_t ms = floor<milliseconds>((pared - (ahora - instante)).time_since_epoch()).count();
    // The two clocks are read a moment apart in each event: that jitter must not put a record
    // before the previous one. A real step of the wall clock back does show.
    if (ms < ultimoMs_ && ultimoMs_ - ms < 1000)
        ms = ultimoMs_;
    ultimoMs_ = ms;
    return ms;
}

void Adquisicion::cortar(float transcurrido)
{
    if (corte_.isEmpty()) {
        // Nothing known of its pace yet, or two long waits in a row: that is its pace now.
        if (espaciado_ <= 0.0f || trasCorte_) {
            espaciado_ = std::max(transcurrido, espaciadoMinimo);
            trasCorte_ = false;
            return;
        }
        if (transcurrido <= pausaRelativa * espaciado_) {
            espaciado_ += (transcurrido - espaciado_) / 16.0f; // a slow controller's own pace
            trasCorte_ = false;
            return;
        }
    }
    ventana_.marcarCorte(transcurrido, corte_.isEmpty()
                                           ? QStringLiteral("el controlador no envió nada")
                                           : corte_);
    corte_.clear();
    trasCorte_ = true;
}

void Adquisicion::puertoAbierto(const QString &motivo)
{
    corte_ = motivo.isEmpty() ? QStringLiteral("se abrió el puerto de nuevo") : motivo;
    espaciado_ = 0.0f; // the device may be another, at another pace
    // Nothing read before belongs to what comes now: the kernel may have discarded the byte
    // after a marker, and the device may be another one.
    variables_.esperaSetPoint = false;
    variables_.setPoint.reset();
    enVuelo_.reset();
    enVueloPrimero_.reset();
    respuesta_.olvidarSetPoint();
}

bool Adquisicion::enVuelo(uint8_t setPoint, Reloj::Instante ahora)
{
    if ((setPoint == *enVuelo_ || setPoint == enVueloPrimero_) && ahora < enVueloHasta_)
        return true;
    enVuelo_.reset(); // the controller has its new set point, or another
    enVueloPrimero_.reset();
    return false;
}

bool Adquisicion::enviarSetPoint(PuertoSerie &puerto, uint8_t valor, QString *motivo)
{
    if (!puerto.enviar(valor, motivo))
        return false;
    const std::optional<int16_t> antes = variables_.setPoint;
    variables_.setPoint = valor;
    setPointEnviado(antes);
    return true;
}

void Adquisicion::setPointEnviado(std::optional<int16_t> anterior)
{
    // A second is far more than a report spends in the controller's queue, the line and the
    // reads gathered between frames; a later report of the old value is the controller's word.
    // A second send inside it keeps the first's old value in flight too, and is the same step
    // with the new value.
    const bool segundo = enVuelo_ && reloj_.instante() < enVueloHasta_;
    enVueloPrimero_ = segundo ? enVuelo_ : std::nullopt;
    enVuelo_.reset();
    if (segundo && anterior)
        respuesta_.corregirSiguiente(*anterior);
    if (anterior && anterior != variables_.setPoint) {
        enVuelo_ = anterior;
        enVueloHasta_ = reloj_.instante() + std::chrono::seconds(1);
    }
}

int Adquisicion::contarMuestras(QByteArrayView entrada, bool esperaSetPoint)
{
    int n = 0;
    for (const char c : entrada) {
        if (esperaSetPoint)
            esperaSetPoint = false;
        else if (static_cast<uint8_t>(c) >= marcaSetPoint)
            esperaSetPoint = true;
        else
            ++n;
    }
    return n;
}
