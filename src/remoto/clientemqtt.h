#pragma once

#include <atomic>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

struct mosquitto;

// One connection to an MQTT broker (libmosquitto, MQTT 5). The network runs in the library's
// own thread, so a broker that does not answer never holds up the caller; what it reports
// arrives as signals on the thread that made the client. It reconnects by itself.
class ClienteMqtt : public QObject
{
    Q_OBJECT
public:
    struct Mensaje
    {
        QString tema;
        QByteArray datos;
        bool retenido = false;
    };
    struct Opciones
    {
        QString host;
        int puerto = 1883;
        bool tls = false;
        QString ca;          // a CA file; empty: the system's certificate store
        QString certificado; // a client certificate and its key, where the broker asks for one
        QString clave;
        QString usuario;
        QString contrasena;
        QString idCliente;   // empty: the library makes one up (and the session is clean)
        // false: the broker keeps the subscriptions and what comes for them while the client
        // or the broker itself is away (a historian's session), for as long as it is away.
        bool sesionLimpia = true;
        std::optional<Mensaje> testamento; // published by the broker if the client vanishes
        int keepalive = 10;  // seconds
    };

    explicit ClienteMqtt(const Opciones &opciones, QObject *parent = nullptr);
    ~ClienteMqtt() override;

    // Starts connecting; false with the reason where it cannot even start (a TLS file that
    // cannot be read, a name the library refuses). The outcome comes as a signal.
    bool conectar(QString *motivo);
    bool estaConectado() const { return conectado_; }

    // Queues a message; its mid (for `publicado`), or -1 with the reason (not connected, too
    // big). Safe from any thread.
    int publicar(const QString &tema, const QByteArray &datos, int qos, bool retenido,
                 QString *motivo = nullptr);
    // The subscription's mid, or -1.
    int suscribir(const QString &tema, int qos);

    // The broker's reason for refusing a connection or a message, in the user's words.
    static QString motivoConexion(int rc);
    static QString motivoDesconexion(int rc);

    // How long without an answer from the broker before `sinRespuesta` says so.
    static constexpr int plazoConexionMs = 5000;

signals:
    void conectado();
    // The broker refused the connection (a wrong password, a user it does not admit): the
    // reason in the user's words. The library keeps trying.
    void rechazado(const QString &motivo);
    void desconectado(const QString &motivo);
    // No broker answered the first connection within plazoConexionMs.
    void sinRespuesta(const QString &motivo);
    void mensaje(const ClienteMqtt::Mensaje &m);
    // The broker acknowledged a QoS 1 message; `codigo` is its MQTT 5 reason (0: accepted,
    // 135: not authorised).
    void publicado(int mid, int codigo);
    // The broker took a subscription (`mid` as `suscribir` gave it).
    void suscrito(int mid);

private:
    Opciones opciones_;
    mosquitto *mosq_ = nullptr;
    std::atomic<bool> conectado_{false};
    QTimer plazo_;
    friend struct LlamadasMqtt;
};

Q_DECLARE_METATYPE(ClienteMqtt::Mensaje)
