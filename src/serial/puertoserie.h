#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include "remoto/lineaprotocolo.h"
#include "serial/dispositivos.h"
#include "serial/ritmolectura.h"
#include "serial/vuelta.h"

class PuertoRemoto;

// The serial control: one port with the controller's fixed line settings. Everything that
// arrives goes to the receptor as a receive event with the bytes then waiting, on the UI
// thread; the same receptor is what tests and benchmarks feed. It also opens a controller on
// another computer (mqtt://SERVIDOR[:PUERTO]/NOMBRE, through its bridge), whose samples come
// decoded, with their own times, to the other receptor.
class PuertoSerie : public QObject
{
    Q_OBJECT
public:
    // `llegada`: how long before the event its bytes may have reached the port, for the
    // pipeline to time its samples by (RitmoLectura::llegada).
    using Receptor = std::function<void(int16_t codigo, QByteArrayView entrada,
                                        std::chrono::nanoseconds llegada)>;

    static constexpr qint32 baudios = 19200;
    // A byte on the line: start bit, 8 data bits, stop bit.
    static constexpr std::chrono::nanoseconds tiempoByte{10'000'000'000LL / baudios};
    // Largest chunk handed over in one event; what waits beyond it comes in the next one.
    static constexpr qsizetype maxEntrada = 32766;

    explicit PuertoSerie(QObject *parent = nullptr);
    ~PuertoSerie() override;

    void setReceptor(Receptor receptor) { receptor_ = std::move(receptor); }
    using ReceptorMuestras = std::function<void(std::span<const lineaprotocolo::Muestra>)>;
    void setReceptorMuestras(ReceptorMuestras receptor) { receptorMuestras_ = std::move(receptor); }
    // Where the credentials and TLS files for a broker are read from (empty: none).
    void setConfiguracionMqtt(const QString &ruta) { configuracionMqtt_ = ruta; }
    static QString configuracionMqttPorDefecto();

    // The line's settings and modem lines as asked of the port (a pseudo-terminal ignores
    // some of them, and has no modem lines to read back).
    struct Ajustes
    {
        qint32 baudios;
        QSerialPort::DataBits datos;
        QSerialPort::Parity paridad;
        QSerialPort::StopBits parada;
        QSerialPort::FlowControl flujo;
        bool dtr;
        bool rts;
        bool operator==(const Ajustes &) const = default;
    };

    using Identidad = dispositivos::Identidad;
    using Dispositivo = dispositivos::Dispositivo;
    // The serial devices present now; the system's by default, a test's own otherwise.
    using ListaDispositivos = std::function<QList<Dispositivo>()>;
    void setListaDispositivos(ListaDispositivos lista) { lista_ = std::move(lista); }

    // PortOpen = True on `dispositivo`, the device `nombre` (as the user typed it) resolved
    // to. On failure the port stays closed and `motivo` gets the reason, in the user's words.
    bool abrir(const QString &nombre, const QString &dispositivo, QString *motivo);
    bool PortOpen() const { return port_.isOpen() || remoto_; }
    bool esRemoto() const { return bool(remoto_); }
    const PuertoRemoto *remoto() const { return remoto_.get(); }
    // Whether a set point can go out now; otherwise why not.
    bool puedeEnviar(QString *motivo) const;
    // The port for messages: as typed, and the device it was resolved to where they differ.
    // Kept after a loss, when the system can no longer tell what the device was.
    QString descripcion() const { return describir(nombre_, dispositivo_); }
    static QString describir(const QString &nombre, const QString &dispositivo);
    const QString &nombre() const { return nombre_; }
    const QString &dispositivo() const { return dispositivo_; }
    Ajustes ajustesPedidos() const;
    void cerrar();

    // Reads now what gathered during a pause: called just before each frame, so the frame
    // shows it and the program wakes once for both.
    void leerPendiente()
    {
        if (pausado_)
            reanudar();
    }
    // How the port has been reading, for the benchmark's figures: whether reading pauses now,
    // the times bytes woke the program (what the pause saves), and the reads that found
    // nothing with the device still there (another program took the bytes).
    struct Lecturas
    {
        bool enPausa;
        uint64_t despertares;
        uint64_t vacias;
    };
    Lecturas lecturas() const { return {pausado_, despertares_, lecturasVacias_}; }

    // Output: queues one byte; false with the reason when the port refuses it.
    bool enviar(uint8_t byte, QString *motivo);

    // After a loss the port looks now and then for the same device (Vuelta) and reopens it
    // with the same settings. Opening or closing ends the wait.
    static constexpr std::chrono::milliseconds intervaloVuelta{1000};
    void setIntervaloVuelta(std::chrono::milliseconds intervalo) { vuelta_.setInterval(intervalo); }
    bool esperandoVuelta() const;
    void cancelarVuelta() { vuelta_.stop(); }

signals:
    // The port has been opened, by the user or on a device's return: nothing read before
    // belongs to what comes now.
    void abierto();
    // The device went away or failed for good; the port has already been closed (and waits
    // for the device to come back where it can tell it is the same one).
    void perdido(const QString &motivo);
    // The device came back and the port is open again.
    void reconectado();
    // Whether a set point can be sent has changed (a remote controller's bridge or broker).
    void permisoCambiado();

private:
    void leer();
    qint64 entregar(std::optional<RitmoLectura::Tiempo> pausa);
    RitmoLectura::Tiempo ahora() const { return RitmoLectura::Tiempo(reloj_.nsecsElapsed()); }
    void pausar();
    void reanudar();
    void error(QSerialPort::SerialPortError codigo);
    struct Lineas
    {
        bool dtr;
        bool rts;
    };
    void pedirLineas(Lineas lineas);
    void buscarVuelta();
    void ajustarLinea();
    Identidad identidadDe(const QString &ubicacion, const QList<Dispositivo> &presentes) const;

    bool abrirRemoto(const QString &nombre, const QString &direccion, QString *motivo);

    QSerialPort port_;
    std::unique_ptr<PuertoRemoto> remoto_;
    bool remotoPerdido_ = false;
    ReceptorMuestras receptorMuestras_;
    QString configuracionMqtt_ = configuracionMqttPorDefecto();
    QString nombre_;
    QString dispositivo_;
    Lineas lineas_{false, false};
    Vuelta vueltaDe_; // how to know the device again after a loss
    ListaDispositivos lista_;
    QByteArray entrada_;
    Receptor receptor_;
    QElapsedTimer reloj_;
    RitmoLectura ritmo_{tiempoByte};
    QTimer pausa_;
    RitmoLectura::Tiempo inicioPausa_{};
    QTimer vuelta_;
    bool pausado_ = false;
    bool reanudando_ = false;
    uint64_t despertares_ = 0;
    uint64_t lecturasVacias_ = 0;
};
