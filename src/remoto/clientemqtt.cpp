#include "clientemqtt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QFileInfo>
#include <QMetaObject>

// The library's callbacks run in its own thread: each hands what it got to the client's.
struct LlamadasMqtt
{
    static void conectar(mosquitto *, void *obj, int rc, int, const mosquitto_property *)
    {
        auto *c = static_cast<ClienteMqtt *>(obj);
        if (rc == 0)
            c->conectado_ = true;
        QMetaObject::invokeMethod(c, [c, rc] {
            c->plazo_.stop();
            if (rc != 0) {
                emit c->rechazado(ClienteMqtt::motivoConexion(rc));
                return;
            }
            emit c->conectado();
        }, Qt::QueuedConnection);
    }
    static void desconectar(mosquitto *, void *obj, int rc, const mosquitto_property *)
    {
        auto *c = static_cast<ClienteMqtt *>(obj);
        const bool estaba = c->conectado_.exchange(false);
        if (!estaba)
            return; // a refused connection was said already
        const QString motivo = ClienteMqtt::motivoDesconexion(rc);
        QMetaObject::invokeMethod(c, [c, motivo] { emit c->desconectado(motivo); },
                                  Qt::QueuedConnection);
    }
    static void publicar(mosquitto *, void *obj, int mid, int codigo, const mosquitto_property *)
    {
        auto *c = static_cast<ClienteMqtt *>(obj);
        QMetaObject::invokeMethod(c, [c, mid, codigo] { emit c->publicado(mid, codigo); },
                                  Qt::QueuedConnection);
    }
    static void suscribir(mosquitto *, void *obj, int mid, int, const int *, const mosquitto_property *)
    {
        auto *c = static_cast<ClienteMqtt *>(obj);
        QMetaObject::invokeMethod(c, [c, mid] { emit c->suscrito(mid); }, Qt::QueuedConnection);
    }
    static void recibir(mosquitto *, void *obj, const mosquitto_message *m, const mosquitto_property *)
    {
        auto *c = static_cast<ClienteMqtt *>(obj);
        ClienteMqtt::Mensaje mensaje{QString::fromUtf8(m->topic),
                                     QByteArray(static_cast<const char *>(m->payload), m->payloadlen),
                                     m->retain};
        QMetaObject::invokeMethod(c, [c, mensaje] { emit c->mensaje(mensaje); },
                                  Qt::QueuedConnection);
    }
};

ClienteMqtt::ClienteMqtt(const Opciones &opciones, QObject *parent)
    : QObject(parent), opciones_(opciones)
{
    static const int iniciada = mosquitto_lib_init();
    Q_UNUSED(iniciada);
    qRegisterMetaType<ClienteMqtt::Mensaje>();
    const QByteArray id = opciones_.idCliente.toUtf8();
    mosq_ = mosquitto_new(id.isEmpty() ? nullptr : id.constData(),
                          id.isEmpty() || opciones_.sesionLimpia, this);
    plazo_.setSingleShot(true);
    plazo_.setInterval(plazoConexionMs);
    connect(&plazo_, &QTimer::timeout, this, [this] {
        if (!conectado_)
            emit sinRespuesta(QStringLiteral("ningún broker responde en %1:%2")
                                  .arg(opciones_.host)
                                  .arg(opciones_.puerto));
    });
}

ClienteMqtt::~ClienteMqtt()
{
    if (!mosq_)
        return;
    mosquitto_disconnect(mosq_);
    // A connection still being attempted (an address that does not answer) is not waited for.
    mosquitto_loop_stop(mosq_, !conectado_);
    mosquitto_destroy(mosq_);
}

QString ClienteMqtt::motivoDesconexion(int rc)
{
    if (rc >= 128)
        return QStringLiteral("el broker cerró la conexión: %1").arg(motivoConexion(rc));
    switch (rc) {
    case MOSQ_ERR_SUCCESS:
        return QStringLiteral("la conexión se cerró");
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_ERRNO:
        return QStringLiteral("se perdió la conexión con el broker");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("el broker dejó de responder");
    case MOSQ_ERR_TLS:
        return QStringLiteral("falló la conexión cifrada (TLS): certificado no válido o no fiable");
    case MOSQ_ERR_PROTOCOL:
        return QStringLiteral("el broker habló fuera del protocolo");
    default:
        return QStringLiteral("se perdió la conexión con el broker (%1)")
            .arg(QString::fromUtf8(mosquitto_strerror(rc)));
    }
}

QString ClienteMqtt::motivoConexion(int rc)
{
    switch (rc) {
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
    case CONNACK_REFUSED_BAD_USERNAME_PASSWORD:
        return QStringLiteral("el usuario o la contraseña no son correctos");
    case MQTT_RC_NOT_AUTHORIZED:
    case CONNACK_REFUSED_NOT_AUTHORIZED:
        // mosquitto answers so also for a wrong password, so as not to tell which it was.
        return QStringLiteral("el broker no lo admite: el usuario o la contraseña no son "
                              "correctos, o ese usuario no tiene permiso");
    case MQTT_RC_BANNED:
        return QStringLiteral("el broker tiene prohibido este cliente");
    case MQTT_RC_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_BUSY:
    case CONNACK_REFUSED_SERVER_UNAVAILABLE:
        return QStringLiteral("el broker no está disponible ahora");
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
    case CONNACK_REFUSED_PROTOCOL_VERSION:
        return QStringLiteral("el broker no habla MQTT 5");
    default:
        return QStringLiteral("el broker rechazó la conexión (%1)")
            .arg(QString::fromUtf8(rc >= 128 ? mosquitto_reason_string(rc)
                                             : mosquitto_connack_string(rc)));
    }
}

bool ClienteMqtt::conectar(QString *motivo)
{
    const auto fallar = [motivo](const QString &texto) {
        if (motivo)
            *motivo = texto;
        return false;
    };
    if (!mosq_)
        return fallar(QStringLiteral("la biblioteca MQTT no pudo crear el cliente"));
    // A kept session in MQTT 5 ends with the connection unless the CONNECT carries an expiry,
    // which the library only sends on a blocking connect: such a session speaks 3.1.1, where it
    // lasts until the client comes back.
    const bool sesionGuardada = !opciones_.idCliente.isEmpty() && !opciones_.sesionLimpia;
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION,
                         sesionGuardada ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(mosq_, &LlamadasMqtt::conectar);
    mosquitto_disconnect_v5_callback_set(mosq_, &LlamadasMqtt::desconectar);
    mosquitto_publish_v5_callback_set(mosq_, &LlamadasMqtt::publicar);
    mosquitto_message_v5_callback_set(mosq_, &LlamadasMqtt::recibir);
    mosquitto_subscribe_v5_callback_set(mosq_, &LlamadasMqtt::suscribir);
    // A restarted broker is back within seconds: tried every second or two, no faster.
    mosquitto_reconnect_delay_set(mosq_, 1, 2, false);
    mosquitto_max_inflight_messages_set(mosq_, 100);
    if (!opciones_.usuario.isEmpty()
        && mosquitto_username_pw_set(mosq_, opciones_.usuario.toUtf8().constData(),
                                     opciones_.contrasena.isEmpty()
                                         ? nullptr
                                         : opciones_.contrasena.toUtf8().constData())
               != MOSQ_ERR_SUCCESS)
        return fallar(QStringLiteral("el nombre de usuario no es válido"));
    if (opciones_.tls) {
        for (const QString &archivo : {opciones_.ca, opciones_.certificado, opciones_.clave})
            if (!archivo.isEmpty() && !QFileInfo(archivo).isReadable())
                return fallar(QStringLiteral("no se puede leer el archivo %1").arg(archivo));
        const QByteArray ca = opciones_.ca.toLocal8Bit();
        const QByteArray cert = opciones_.certificado.toLocal8Bit();
        const QByteArray clave = opciones_.clave.toLocal8Bit();
        if (ca.isEmpty())
            mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const int rc = mosquitto_tls_set(mosq_, ca.isEmpty() ? nullptr : ca.constData(),
                                         ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         clave.isEmpty() ? nullptr : clave.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fallar(QStringLiteral("no se pudo preparar TLS: %1")
                              .arg(QString::fromUtf8(mosquitto_strerror(rc))));
    }
    if (const auto &t = opciones_.testamento) {
        const QByteArray tema = t->tema.toUtf8();
        if (mosquitto_will_set(mosq_, tema.constData(), int(t->datos.size()), t->datos.constData(),
                               1, t->retenido)
            != MOSQ_ERR_SUCCESS)
            return fallar(QStringLiteral("el tema %1 no es válido").arg(t->tema));
    }
    const QByteArray host = opciones_.host.toUtf8();
    int rc = mosquitto_connect_async(mosq_, host.constData(), opciones_.puerto,
                                     opciones_.keepalive);
    // An address that cannot be reached now is tried again by the loop.
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_EAI)
        return fallar(QString::fromUtf8(mosquitto_strerror(rc)));
    rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS)
        return fallar(QString::fromUtf8(mosquitto_strerror(rc)));
    plazo_.start();
    return true;
}

int ClienteMqtt::publicar(const QString &tema, const QByteArray &datos, int qos, bool retenido,
                          QString *motivo)
{
    int mid = 0;
    const QByteArray t = tema.toUtf8();
    const int rc = mosquitto_publish(mosq_, &mid, t.constData(), int(datos.size()),
                                     datos.constData(), qos, retenido);
    if (rc == MOSQ_ERR_SUCCESS)
        return mid;
    if (motivo)
        *motivo = rc == MOSQ_ERR_NO_CONN ? QStringLiteral("no hay conexión con el broker")
                                         : QString::fromUtf8(mosquitto_strerror(rc));
    return -1;
}

int ClienteMqtt::suscribir(const QString &tema, int qos)
{
    const QByteArray t = tema.toUtf8();
    int mid = -1;
    return mosquitto_subscribe(mosq_, &mid, t.constData(), qos) == MOSQ_ERR_SUCCESS ? mid : -1;
}
