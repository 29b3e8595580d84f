#include "ejecutor.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>

#include "escalon/registroescalon.h"
#include "recepcion/adquisicion.h"
#include "serial/puertoserie.h"

using std::chrono::duration_cast;
using std::chrono::milliseconds;

Ejecutor::Ejecutor(Reloj &reloj, Acciones acciones, QObject *parent)
    : QObject(parent), reloj_(&reloj), acciones_(std::move(acciones))
{
    temporizador_.setSingleShot(true);
    temporizador_.setTimerType(Qt::PreciseTimer);
    connect(&temporizador_, &QTimer::timeout, this, &Ejecutor::avanzar);
}

Ejecutor::Acciones Ejecutor::acciones(Adquisicion &adquisicion, PuertoSerie &puerto,
                                      std::function<void()> alEnviar)
{
    Acciones a;
    a.enviar = [&adquisicion, &puerto, alEnviar](uint8_t valor, QString *motivo) {
        const bool ok = adquisicion.enviarSetPoint(puerto, valor, motivo);
        if (ok && alEnviar)
            alEnviar();
        return ok;
    };
    a.setPoint = [&adquisicion] { return adquisicion.setPoint(); };
    a.numeroEscalon = [&adquisicion] { return adquisicion.respuesta().numero(); };
    a.escalon = [&adquisicion] { return adquisicion.respuesta().actual(); };
    a.registro = [&adquisicion] { return &adquisicion.respuesta().registro(); };
    return a;
}

void Ejecutor::escuchar(Adquisicion &adquisicion, PuertoSerie &puerto)
{
    adquisicion.setVigilante([this](int16_t dato, Reloj::Instante instante) { muestra(dato, instante); });
    connect(&puerto, &PuertoSerie::perdido, this, &Ejecutor::puertoPerdido);
}

Reloj::Instante Ejecutor::ahora() const
{
    return estado_ == Estado::enPausa ? pausadoDesde_ : reloj_->instante();
}

bool Ejecutor::iniciar()
{
    if (estado_ != Estado::parado || programa_.etapas.isEmpty())
        return false;
    escalones_.clear();
    conCurva_.clear();
    etapa_ = repeticion_ = 0;
    fuera_ = 0;
    rangoDicho_ = false;
    huboEnvio_ = false;
    fin_ = Fin::ninguno;
    mensajeFin_.clear();
    vigilar_ = programa_.limiteSuperior || programa_.limiteInferior;
    estado_ = Estado::enMarcha;
    empezarEtapa(reloj_->instante());
    if (estado_ == Estado::enMarcha)
        programar();
    emit cambio();
    return true;
}

void Ejecutor::pausar()
{
    if (estado_ != Estado::enMarcha)
        return;
    pausadoDesde_ = reloj_->instante();
    estado_ = Estado::enPausa;
    temporizador_.stop();
    emit cambio();
}

void Ejecutor::reanudar()
{
    if (estado_ != Estado::enPausa)
        return;
    // The stage takes up where it was: its times move on by the pause.
    const auto pausa = reloj_->instante() - pausadoDesde_;
    inicioEtapa_ += pausa;
    ultimoEnvio_ += pausa;
    estado_ = Estado::enMarcha;
    avanzar();
}

void Ejecutor::detener()
{
    if (estado_ == Estado::parado)
        return;
    cerrarEtapa();
    terminar(Fin::detenido, QStringLiteral("Programa detenido en la etapa %1, repetición %2.")
                                .arg(etapa_ + 1).arg(repeticion_ + 1));
}

void Ejecutor::puertoPerdido(const QString &motivo)
{
    if (estado_ == Estado::parado)
        return;
    cerrarEtapa();
    terminar(Fin::puertoPerdido,
             QStringLiteral("El programa se detuvo en la etapa %1, repetición %2: se perdió la "
                            "conexión con el controlador (%3).")
                 .arg(etapa_ + 1).arg(repeticion_ + 1).arg(motivo));
}

bool Ejecutor::enviar(int valor)
{
    const int enLinea = std::min(valor, 100);
    QString motivo;
    if (!acciones_.enviar(uint8_t(enLinea), &motivo)) {
        cerrarEtapa();
        terminar(Fin::errorEnvio,
                 QStringLiteral("El programa se detuvo en la etapa %1, repetición %2: no se pudo "
                                "enviar el set point %3 (%4).")
                     .arg(etapa_ + 1).arg(repeticion_ + 1).arg(enLinea).arg(motivo));
        return false;
    }
    ultimoEnvio_ = reloj_->instante();
    huboEnvio_ = true;
    if (enLinea != valor && !rangoDicho_) {
        rangoDicho_ = true;
        emit aviso(QStringLiteral("El controlador admite set points de 0 a 100: el programa ha "
                                  "enviado %1 en lugar de %2.").arg(enLinea).arg(valor));
    }
    return true;
}

void Ejecutor::empezarEtapa(Reloj::Instante inicio)
{
    inicioEtapa_ = inicio;
    enviadoEtapa_.reset();
    rampaCuentas_ = rampaEnviadas_ = 0;
    const Etapa &e = actual();
    if (e.tipo == Etapa::Tipo::escalon) {
        escalonAntes_ = acciones_.numeroEscalon();
        if (enviar(e.setPoint))
            enviadoEtapa_ = std::min(e.setPoint, 100);
    } else if (e.tipo == Etapa::Tipo::rampa) {
        rampaHasta_ = std::min(e.setPoint, 100);
        const auto desde = acciones_.setPoint();
        if (!desde) {
            emit aviso(QStringLiteral("La rampa a %1 empieza sin conocer el set point del "
                                      "controlador: se envía %1 de una vez.").arg(rampaHasta_));
            enviar(e.setPoint);
            return;
        }
        rampaDesde_ = *desde;
        rampaCuentas_ = std::abs(rampaHasta_ - rampaDesde_);
        if (rampaCuentas_ == 0)
            return;
        // The last count goes out as the stage's time is up, the others evenly before it.
        rampaPaso_ = duration_cast<Reloj::Instante::duration>(milliseconds(e.ms)) / rampaCuentas_;
        if (rampaPaso_ < espaciadoMinimo) {
            rampaPaso_ = espaciadoMinimo;
            emit aviso(QStringLiteral("La rampa de %1 a %2 en %3 s pide más de una cuenta cada "
                                      "%4 ms: se envía una cuenta cada %4 ms y tardará %5 s.")
                           .arg(rampaDesde_).arg(rampaHasta_).arg(programa::textoSegundos(e.ms))
                           .arg(espaciadoMinimo.count())
                           .arg(programa::textoSegundos(rampaCuentas_ * espaciadoMinimo.count())));
        }
    }
}

std::optional<Reloj::Instante> Ejecutor::proximo() const
{
    if (estado_ == Estado::parado)
        return std::nullopt;
    if (rampaEnviadas_ < rampaCuentas_) {
        Reloj::Instante cuando = inicioEtapa_ + rampaPaso_ * (rampaEnviadas_ + 1);
        if (huboEnvio_)
            cuando = std::max(cuando, ultimoEnvio_ + separacionMinima);
        return cuando;
    }
    return inicioEtapa_ + milliseconds(actual().ms);
}

void Ejecutor::avanzar()
{
    if (estado_ != Estado::enMarcha)
        return;
    const Reloj::Instante t = reloj_->instante();
    while (estado_ == Estado::enMarcha) {
        const Reloj::Instante cuando = *proximo();
        if (t < cuando)
            break;
        if (rampaEnviadas_ < rampaCuentas_) {
            ++rampaEnviadas_;
            enviar(rampaDesde_ + (rampaHasta_ > rampaDesde_ ? rampaEnviadas_ : -rampaEnviadas_));
            continue;
        }
        cerrarEtapa();
        if (++etapa_ == programa_.etapas.size()) {
            etapa_ = 0;
            if (++repeticion_ == programa_.repeticiones) {
                etapa_ = programa_.etapas.size() - 1;
                repeticion_ = programa_.repeticiones - 1;
                terminar(Fin::completo, QStringLiteral("Programa terminado: %1 escalones medidos.")
                                            .arg(escalones_.size()));
                return;
            }
        }
        // From when the last one was due, not from now: a late timer does not stretch the run.
        empezarEtapa(cuando);
    }
    programar();
    emit cambio();
}

void Ejecutor::programar()
{
    if (estado_ != Estado::enMarcha)
        return;
    const auto falta = *proximo() - reloj_->instante();
    const auto ms = std::chrono::ceil<milliseconds>(falta).count();
    temporizador_.start(int(std::clamp<long long>(ms, 0, 24LL * 3600 * 1000)));
}

void Ejecutor::cerrarEtapa()
{
    // An «Escalón» is its step only where the analysis saw one, and that one goes to what it sent.
    if (!enviadoEtapa_ || acciones_.numeroEscalon() == escalonAntes_)
        return;
    const FigurasEscalon f = acciones_.escalon();
    if (f.hay && f.hasta == *enviadoEtapa_) {
        resultados::Escalon e{repeticion_ + 1, etapa_ + 1, f, {}, {}};
        // Once a stage, never per sample: at most the record's capacity.
        if (const RegistroEscalon *r = acciones_.registro ? acciones_.registro() : nullptr) {
            e.tiempos = QList<double>(r->tiempos(), r->tiempos() + r->puntos());
            e.valores = QList<double>(r->valores(), r->valores() + r->puntos());
        }
        escalones_.append(std::move(e));
        if (!escalones_.last().tiempos.isEmpty())
            guardarCurva(escalones_.size() - 1);
    }
    enviadoEtapa_.reset();
}

void Ejecutor::guardarCurva(qsizetype nueva)
{
    const auto soltar = [this](std::deque<qsizetype>::iterator i) {
        escalones_[*i].tiempos = {};
        escalones_[*i].valores = {};
        conCurva_.erase(i);
    };
    conCurva_.push_back(nueva);
    const int etapa = escalones_[nueva].etapa;
    int deLaEtapa = 0;
    for (qsizetype i : conCurva_)
        deLaEtapa += escalones_[i].etapa == etapa;
    if (deLaEtapa > curvasPorEtapa)
        soltar(std::find_if(conCurva_.begin(), conCurva_.end(),
                            [&](qsizetype i) { return escalones_[i].etapa == etapa; }));
    if (qsizetype(conCurva_.size()) > curvasEnTotal)
        soltar(conCurva_.begin());
}

void Ejecutor::terminar(Fin fin, const QString &texto)
{
    estado_ = Estado::parado;
    fin_ = fin;
    mensajeFin_ = texto;
    temporizador_.stop();
    if (fin != Fin::completo && fin != Fin::detenido)
        emit aviso(texto);
    emit terminado();
    emit cambio();
}

void Ejecutor::vigilar(int16_t dato, Reloj::Instante instante)
{
    const bool arriba = programa_.limiteSuperior && dato > *programa_.limiteSuperior;
    const bool abajo = programa_.limiteInferior && dato < *programa_.limiteInferior;
    if (!arriba && !abajo) {
        fuera_ = 0;
        return;
    }
    if (++fuera_ < programa_.muestrasFuera)
        return;
    // The safe set point first: nothing else may delay it.
    const int seguro = *programa_.setPointSeguro;
    QString motivo;
    const bool enviado = acciones_.enviar(uint8_t(seguro), &motivo);
    cerrarEtapa();
    const auto hace = reloj_->instante() - instante;
    const QDateTime cuando = QDateTime::fromMSecsSinceEpoch(
        duration_cast<milliseconds>((reloj_->pared() - hace).time_since_epoch()).count());
    QString texto =
        QStringLiteral("Parada de seguridad a las %1: el valor %2 pasó del límite %3 %4 durante "
                       "%5 muestras seguidas, en la etapa %6, repetición %7. ")
            .arg(cuando.toString(QStringLiteral("HH:mm:ss")))
            .arg(dato)
            .arg(arriba ? QStringLiteral("superior") : QStringLiteral("inferior"))
            .arg(arriba ? *programa_.limiteSuperior : *programa_.limiteInferior)
            .arg(fuera_).arg(etapa_ + 1).arg(repeticion_ + 1);
    texto += enviado ? QStringLiteral("Se envió el set point seguro %1.").arg(seguro)
                     : QStringLiteral("No se pudo enviar el set point seguro %1 (%2).")
                           .arg(seguro).arg(motivo);
    terminar(Fin::seguridad, texto);
}

std::chrono::milliseconds Ejecutor::restanteEtapa() const
{
    if (estado_ == Estado::parado)
        return {};
    const auto fin = std::max(inicioEtapa_ + milliseconds(actual().ms),
                              rampaCuentas_ ? inicioEtapa_ + rampaPaso_ * rampaCuentas_
                                            : inicioEtapa_);
    return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(fin - ahora()));
}

std::chrono::milliseconds Ejecutor::total() const
{
    int64_t uno = 0;
    for (const Etapa &e : programa_.etapas)
        uno += e.ms;
    return milliseconds(uno * programa_.repeticiones);
}

std::chrono::milliseconds Ejecutor::restante() const
{
    if (estado_ == Estado::parado)
        return {};
    int64_t despues = 0;
    for (qsizetype i = etapa_ + 1; i < programa_.etapas.size(); ++i)
        despues += programa_.etapas[i].ms;
    despues += (programa_.repeticiones - repeticion_ - 1) * (total().count() / programa_.repeticiones);
    return restanteEtapa() + milliseconds(despues);
}
