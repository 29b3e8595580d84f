#include "puertoremoto.h"

#include "remoto/temas.h"

namespace {

// A jump in the sequence longer than this is a new run of the bridge (its numbers start at
// its start in microseconds), not samples lost: nine minutes at the line's rate.
constexpr int64_t saltoNuevaSesion = 1'000'000;

} // namespace

PuertoRemoto::PuertoRemoto(const direccion::Direccion &direccion,
                           const direccion::Configuracion &config, QObject *parent)
    : QObject(parent), direccion_(direccion), config_(config)
{
}

PuertoRemoto::~PuertoRemoto() = default;

bool PuertoRemoto::abrir(QString *motivo)
{
    cliente_ = std::make_unique<ClienteMqtt>(direccion::opciones(direccion_, config_));
    connect(cliente_.get(), &ClienteMqtt::conectado, this, &PuertoRemoto::alConectar);
    connect(cliente_.get(), &ClienteMqtt::mensaje, this, &PuertoRemoto::recibir);
    const auto perder = [this](const QString &motivo) {
        // Said once until it connects again: the client keeps trying every second or two.
        if (motivo == motivoPerdida_)
            return;
        motivoPerdida_ = motivo;
        emit perdido(QStringLiteral("%1 (broker %2)").arg(motivo, direccion_.texto()));
    };
    connect(cliente_.get(), &ClienteMqtt::rechazado, this, perder);
    connect(cliente_.get(), &ClienteMqtt::desconectado, this, perder);
    connect(cliente_.get(), &ClienteMqtt::sinRespuesta, this, perder);
    connect(cliente_.get(), &ClienteMqtt::publicado, this, [this](int mid, int codigo) {
        if (mid != midPregunta_)
            return;
        preguntado_ = true;
        brokerPermite_ = codigo < 128;
        emit permisoCambiado();
    });
    return cliente_->conectar(motivo);
}

void PuertoRemoto::alConectar()
{
    motivoPerdida_.clear();
    cliente_->suscribir(temas::muestras(direccion_.nombre), 1);
    cliente_->suscribir(temas::estado(direccion_.nombre), 1);
    // An empty message asks the broker whether this user may publish set points; the bridge
    // takes it as nothing.
    preguntado_ = false;
    midPregunta_ = cliente_->publicar(temas::enviar(direccion_.nombre), QByteArray(), 1, false);
    emit conectado();
}

void PuertoRemoto::recibir(const ClienteMqtt::Mensaje &m)
{
    if (m.tema == temas::estado(direccion_.nombre)) {
        const auto punto = lineaprotocolo::leer(m.datos);
        const lineaprotocolo::Valor *permite =
            punto ? punto->campo(QStringLiteral("permitir_consigna")) : nullptr;
        const bool ahora = permite && permite->tipo == lineaprotocolo::Valor::Tipo::booleano
                           && permite->booleano;
        if (!punto)
            ++cuentas_.ignoradas;
        if (ahora != puentePermite_) {
            puentePermite_ = ahora;
            emit permisoCambiado();
        }
        return;
    }
    if (m.tema != temas::muestras(direccion_.nombre))
        return;
    lote_.clear();
    const QByteArrayView datos(m.datos);
    for (qsizetype desde = 0; desde < datos.size();) {
        qsizetype fin = datos.indexOf('\n', desde);
        if (fin < 0)
            fin = datos.size();
        const QByteArrayView linea = datos.sliced(desde, fin - desde);
        desde = fin + 1;
        if (linea.trimmed().isEmpty())
            continue;
        const auto punto = lineaprotocolo::leer(linea);
        const auto muestra = punto && punto->etiqueta(QStringLiteral("controlador")) == direccion_.nombre
                                 ? lineaprotocolo::muestra(*punto)
                                 : std::nullopt;
        if (!muestra) {
            ++cuentas_.ignoradas;
            continue;
        }
        if (ultimaSeq_ != 0 && muestra->seq <= ultimaSeq_ && ultimaSeq_ - muestra->seq < saltoNuevaSesion) {
            ++cuentas_.repetidas;
            continue;
        }
        if (ultimaSeq_ != 0 && muestra->seq > ultimaSeq_ + 1 && muestra->seq - ultimaSeq_ < saltoNuevaSesion)
            cuentas_.perdidas += uint64_t(muestra->seq - ultimaSeq_ - 1);
        ultimaSeq_ = muestra->seq;
        ++cuentas_.recibidas;
        lote_.push_back(*muestra);
    }
    if (!lote_.empty() && receptor_)
        receptor_(lote_);
}

bool PuertoRemoto::puedeEnviar(QString *motivo) const
{
    const auto no = [motivo](const QString &texto) {
        if (motivo)
            *motivo = texto;
        return false;
    };
    if (!estaConectado())
        return no(QStringLiteral("no hay conexión con el broker %1").arg(direccion_.texto()));
    if (!puentePermite_)
        return no(QStringLiteral("el puente de %1 no se inició con --permitir-consigna")
                      .arg(direccion_.nombre));
    if (!preguntado_)
        return no(QStringLiteral("el broker aún no ha dicho si este usuario puede enviar"));
    if (!brokerPermite_)
        return no(QStringLiteral("el broker no deja a este usuario publicar en %1")
                      .arg(temas::enviar(direccion_.nombre)));
    return true;
}

bool PuertoRemoto::enviar(uint8_t valor, QString *motivo)
{
    if (!puedeEnviar(motivo))
        return false;
    return cliente_->publicar(temas::enviar(direccion_.nombre), QByteArray::number(valor), 1,
                              false, motivo)
           >= 0;
}
