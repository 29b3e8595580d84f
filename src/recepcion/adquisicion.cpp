#include "adquisicion.h"

#include <QCheckBox>
#include <QLineEdit>

#include "chart/graficotendencia.h"
#include "chart/ventanamuestras.h"
#include "core/numeros.h"
#include "core/variablesventana.h"
#include "log/registro.h"

Adquisicion::Adquisicion(VariablesVentana &variables, QLineEdit &txtTiempo, QLineEdit &txtDato,
                         const QCheckBox &chkRegistrar, VentanaMuestras &ventana,
                         GraficoTendencia &grafico, Registro &registro)
    : variables_(variables), txtTiempo_(txtTiempo), txtDato_(txtDato),
      chkRegistrar_(chkRegistrar), ventana_(ventana), grafico_(grafico), registro_(registro)
{
    QObject::connect(&grafico_, &GraficoTendencia::antesDeRedibujar, &grafico_,
                     [this] { escribirLecturas(); });
    QObject::connect(&grafico_, &GraficoTendencia::antesDeFotograma, &grafico_,
                     [this] { lecturasConFotograma(); });
    lecturasTarde_.setSingleShot(true);
    QObject::connect(&lecturasTarde_, &QTimer::timeout, &grafico_,
                     [this] { lecturasSinFotograma(); });
}

void Adquisicion::lecturasConFotograma()
{
    if (!lecturasPendientes_)
        return;
    const qint64 pasado = desdeLecturas_.isValid() ? desdeLecturas_.elapsed() : intervaloLecturasMs;
    if (pasado >= intervaloLecturasMs)
        escribirLecturas();
}

void Adquisicion::lecturasSinFotograma()
{
    // Minimised: they are written when the window is shown again, with the chart.
    if (!txtDato_.window()->isMinimized())
        escribirLecturas();
}

void Adquisicion::escribirLecturas()
{
    if (!lecturasPendientes_)
        return;
    lecturasPendientes_ = false;
    lecturasTarde_.stop();
    desdeLecturas_.start();
    // Shown from the start, like any read-out too narrow for its text.
    txtTiempo_.setText(numeros::textoReal(ultimoTranscurrido_));
    txtTiempo_.setCursorPosition(0);
    txtDato_.setText(numeros::textoEntero(ultimoDato_));
    txtDato_.setCursorPosition(0);
}

void Adquisicion::procesarEntrada(int16_t codigo, QByteArrayView entrada,
                                  std::chrono::nanoseconds llegada)
{
    if (codigo != evento::comEvReceive || entrada.isEmpty())
        return;

    // The handler runs to completion, so nothing can change the box or see the read-outs
    // between two samples of this event: read the one once, keep the other for the end.
    // Samples that come while the log asks about old records wait for the answer there.
    const bool marcado = chkRegistrar_.checkState() == Qt::Checked;
    const bool retener = marcado && registro_.preguntando();
    bool registrar = marcado && !retener;
    bool huboMuestra = false;
    float transcurrido = 0.0f;
    int16_t dato = 0;

    VariablesVentana &v = variables_;
    // One clock reading per event. Where the bytes came over a stretch (gathered while reading
    // paused), each sample gets its share of it, so the read-out shows the controller's spacing.
    const Reloj::Instante ahora = reloj_.instante();
    const Reloj::Pared pared = marcado ? reloj_.pared() : Reloj::Pared{};
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
        // Before any sample the read-out shows the time of day, as the panel always has.
        transcurrido = v.tiempoAnterior
                           ? Reloj::segundosEntre(*v.tiempoAnterior, instante)
                           : static_cast<float>(Reloj::segundosMedianoche(reloj_.pared()));
        v.tiempoAnterior = instante;
        respuesta_.agregar(instante, dato, v.setPoint);
        ventana_.agregarMuestra(dato, v.setPoint.value_or(VentanaMuestras::sinSetPoint),
                                std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    instante.time_since_epoch()).count());
        if (registrar || retener) {
            const int64_t ms = msEpoca(pared, ahora, instante);
            if (registrar && !registro_.escribirRegistro(dato, v.setPoint, ms))
                registrar = false;
            else if (retener)
                registro_.retener(dato, v.setPoint, ms);
        }
        ventana_.recortarVentana(v.puntosX);
        huboMuestra = true;
        ++muestras_;
    }

    if (registrar)
        registro_.terminarEvento();
    if (!huboMuestra)
        return;
    ultimoTranscurrido_ = transcurrido;
    ultimoDato_ = dato;
    lecturasPendientes_ = true;
    grafico_.redibujarPronto();
    if (!lecturasTarde_.isActive())
        lecturasTarde_.start(intervaloLecturasMs + 2 * GraficoTendencia::intervaloRedibujoMs);
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

void Adquisicion::puertoAbierto()
{
    // Nothing read before belongs to what comes now: the kernel may have discarded the byte
    // after a marker, and the device may be another one.
    variables_.esperaSetPoint = false;
    variables_.setPoint.reset();
    enVuelo_.reset();
    respuesta_.olvidarSetPoint();
}

bool Adquisicion::enVuelo(uint8_t setPoint, Reloj::Instante ahora)
{
    if (setPoint == *enVuelo_ && ahora < enVueloHasta_)
        return true;
    enVuelo_.reset(); // the controller has its new set point, or another
    return false;
}

void Adquisicion::setPointEnviado(std::optional<int16_t> anterior)
{
    // A second is far more than a report spends in the controller's queue, the line and the
    // reads gathered between frames; a later report of the old value is the controller's word.
    enVuelo_.reset();
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
