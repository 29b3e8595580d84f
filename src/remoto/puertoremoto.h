#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include <QObject>
#include <QString>

#include "remoto/clientemqtt.h"
#include "remoto/direccion.h"
#include "remoto/lineaprotocolo.h"

// A controller on another computer, read through the bridge that publishes it: its samples
// arrive already decoded, each with its own time, in order and once (the sequence numbers tell
// a repeat from a gap). Lines that do not read are counted and dropped, never shown.
class PuertoRemoto : public QObject
{
    Q_OBJECT
public:
    using Receptor = std::function<void(std::span<const lineaprotocolo::Muestra>)>;

    PuertoRemoto(const direccion::Direccion &direccion, const direccion::Configuracion &config,
                 QObject *parent = nullptr);
    ~PuertoRemoto() override;

    void setReceptor(Receptor receptor) { receptor_ = std::move(receptor); }
    // Starts connecting; false with the reason where it cannot even start.
    bool abrir(QString *motivo);
    bool estaConectado() const { return cliente_ && cliente_->estaConectado(); }

    // Whether a set point may be sent: the bridge was started with --permitir-consigna and the
    // broker lets this user publish to its command topic. Otherwise why not.
    bool puedeEnviar(QString *motivo) const;
    bool enviar(uint8_t valor, QString *motivo);

    struct Cuentas
    {
        uint64_t recibidas = 0;
        uint64_t repetidas = 0;  // a sequence number already taken: dropped
        uint64_t perdidas = 0;   // numbers skipped within one run of the bridge
        uint64_t ignoradas = 0;  // lines that are not a sample of this controller
    };
    const Cuentas &cuentas() const { return cuentas_; }
    const direccion::Direccion &direccion() const { return direccion_; }

    // Feeds a message as if it came from the broker (a test's seam; the client calls it too).
    void recibir(const ClienteMqtt::Mensaje &m);

signals:
    void conectado();
    void perdido(const QString &motivo);
    // Whether a set point may be sent has changed.
    void permisoCambiado();

private:
    void alConectar();

    direccion::Direccion direccion_;
    direccion::Configuracion config_;
    std::unique_ptr<ClienteMqtt> cliente_;
    Receptor receptor_;
    std::vector<lineaprotocolo::Muestra> lote_;
    int64_t ultimaSeq_ = 0;
    Cuentas cuentas_;
    bool puentePermite_ = false;
    bool brokerPermite_ = false;
    bool preguntado_ = false; // the broker has answered whether this user may send
    int midPregunta_ = -1;
    QString motivoPerdida_;
};
