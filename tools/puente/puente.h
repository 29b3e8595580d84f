#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include <QObject>
#include <QStringList>
#include <QTimer>

#include "chart/ventanamuestras.h"
#include "core/variablesventana.h"
#include "log/registro.h"
#include "recepcion/adquisicion.h"
#include "remoto/clientemqtt.h"
#include "remoto/colamuestras.h"
#include "remoto/direccion.h"
#include "serial/puertoserie.h"

// One controller's port read as the panel reads it (the same decoder, reconnection and log),
// published to an MQTT broker: its samples in batches every 50 ms, each with its own time and
// a sequence number; its set-point changes; each step's figures once final; and the bridge's
// own state, retained, with a last will. Nothing read is lost while the broker is away: it
// waits in a bounded queue and goes, in order, when the broker is back.
class Puente : public QObject
{
    Q_OBJECT
public:
    struct Opciones
    {
        QString puerto;
        QString nombre;
        direccion::Direccion broker;
        QString config;
        QString registro;
        bool milisegundos = false;
        bool permitirConsigna = false;
    };
    // What the command line asks for; nullopt with `salida` and `codigo` where the program
    // ends at once (--help, --version, a mistake).
    static std::optional<Opciones> leerOpciones(const QStringList &argumentos, QString *salida,
                                                int *codigo);
    static QString ayuda();

    static constexpr int intervaloMs = 50;
    // Ten minutes at the line's 1920 samples a second.
    static constexpr size_t capacidadCola = 10 * 60 * 1920;
    static constexpr size_t maxLote = 2000;
    static constexpr size_t maxEnVuelo = 32;
    // Batches out this long with no acknowledgement while connected go again.
    static constexpr int plazoConfirmacion = 30;

    Puente(const Opciones &opciones, const direccion::Configuracion &config,
           QObject *parent = nullptr);
    ~Puente() override;

    // Opens the port (and tries again every few seconds until it can) and connects to the
    // broker; false with the reason where it cannot even start.
    bool empezar(QString *motivo);
    // Says so on the broker (retained), then closes the log and the port.
    void terminar();
    // Waits, up to `ms`, for the broker to acknowledge what is still queued.
    void vaciar(int ms);

    const ColaMuestras &cola() const { return cola_; }
    uint64_t ordenesIgnoradas() const { return ordenesIgnoradas_; }
    // The first sequence number of this run: its start in microseconds since 1970, so the
    // numbers never go back when the bridge starts again.
    int64_t primeraSeq() const { return primeraSeq_; }

signals:
    // A line for whoever runs the bridge (standard error, the system's journal).
    void aviso(const QString &texto);

private:
    void muestra(int16_t dato, std::optional<int16_t> setPoint, int64_t msEpoca);
    void abrirPuerto();
    void publicar();
    void publicarEstado();
    void publicarEscalones();
    void evento(const QString &tema, const QByteArray &datos);
    void orden(const ClienteMqtt::Mensaje &m);

    Opciones opciones_;
    VariablesVentana variables_;
    std::unique_ptr<VentanaMuestras> ventana_;
    Registro registro_;
    Adquisicion adquisicion_;
    PuertoSerie puerto_;
    ClienteMqtt cliente_;
    ColaMuestras cola_;
    QByteArray clave_;
    int64_t primeraSeq_;
    int64_t seq_;
    std::optional<int16_t> ultimoSetPoint_;
    bool hayMuestra_ = false;
    // Messages other than samples (set-point changes, steps, state), in order, until the
    // broker acknowledges them; mid -1 not sent yet.
    struct Evento
    {
        QString tema;
        QByteArray datos;
        int mid = -1;
    };
    std::deque<Evento> eventos_;
    std::deque<qint64> escalonesPublicados_; // their start, steady clock, nanoseconds
    uint64_t ordenesIgnoradas_ = 0;
    QString motivoPuerto_; // why the port is not open now; empty while it is
    QTimer temporizador_;
    QTimer estado_;
    QTimer reabrir_;
    int segundos_ = 0;
    int sinConfirmar_ = 0; // seconds connected with batches out and no acknowledgement
};
