#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

// The serial control: one port with the controller's fixed line settings. Everything that
// arrives goes to the receptor as a receive event with the bytes then waiting, on the UI
// thread; the same receptor is what tests and benchmarks feed.
class PuertoSerie : public QObject
{
    Q_OBJECT
public:
    // `llegada`: how long before the event its bytes may have reached the port, for the
    // pipeline to time its samples by (see entregar()).
    using Receptor = std::function<void(int16_t codigo, QByteArrayView entrada,
                                        std::chrono::nanoseconds llegada)>;

    static constexpr qint32 baudios = 19200;
    // A byte on the line: start bit, 8 data bits, stop bit.
    static constexpr std::chrono::nanoseconds tiempoByte{10'000'000'000LL / baudios};
    // Largest chunk handed over in one event; what waits beyond it comes in the next one.
    static constexpr qsizetype maxEntrada = 32766;
    // A stream faster than this many bytes a second in small pieces (a UART at full speed, an
    // adapter's short packets) would wake the program for every few bytes: reading pauses and
    // the kernel gathers what comes until the chart's next frame (leerPendiente) or at most
    // pausaMs. Anything slower is read the moment it comes: each sample keeps its own time,
    // and a hang-up (which empties the kernel's queue) cannot take bytes kept waiting.
    static constexpr qint64 ritmoPausa = 500;
    static constexpr qsizetype rafagaBytes = 64;
    static constexpr qsizetype limitePausa = 1024;
    static constexpr int pausaMs = 100;

    explicit PuertoSerie(QObject *parent = nullptr);
    ~PuertoSerie() override;

    void setReceptor(Receptor receptor) { receptor_ = std::move(receptor); }

    // The modem lines asked for at every opening.
    struct Lineas
    {
        bool dtr;
        bool rts;
    };
    // The line's settings as asked of the port (a pseudo-terminal ignores some of them).
    struct Ajustes
    {
        qint32 baudios;
        QSerialPort::DataBits datos;
        QSerialPort::Parity paridad;
        QSerialPort::StopBits parada;
        QSerialPort::FlowControl flujo;
        bool operator==(const Ajustes &) const = default;
    };

    // What tells one device from another where the system knows it (a USB adapter's vendor,
    // product and serial number); empty for a classic port or a pseudo-terminal.
    struct Identidad
    {
        quint16 fabricante = 0;
        quint16 producto = 0;
        QString serie;
        bool conocida() const { return fabricante != 0 || producto != 0 || !serie.isEmpty(); }
        bool operator==(const Identidad &) const = default;
    };
    struct Dispositivo
    {
        QString ubicacion; // the device file
        Identidad identidad;
    };
    // The serial devices present now; QSerialPortInfo's by default, a test's own otherwise.
    using ListaDispositivos = std::function<QList<Dispositivo>()>;
    void setListaDispositivos(ListaDispositivos lista) { lista_ = std::move(lista); }

    // PortOpen = True on `dispositivo`, the device `nombre` (as the user typed it) resolved
    // to. On failure the port stays closed and `motivo` gets the reason, in the user's words.
    bool abrir(const QString &nombre, const QString &dispositivo, QString *motivo);
    bool PortOpen() const { return port_.isOpen(); }
    // The port for messages: as typed, and the device it was resolved to where they differ.
    // Kept after a loss, when the system can no longer tell what the device was.
    QString descripcion() const { return describir(nombre_, dispositivo_); }
    static QString describir(const QString &nombre, const QString &dispositivo);
    const QString &nombre() const { return nombre_; }
    const QString &dispositivo() const { return dispositivo_; }
    const Identidad &identidad() const { return identidad_; }
    // The device file a name stands for: a bare name (ttyUSB0) is looked for in /dev.
    static QString ubicacion(const QString &dispositivo);
    Lineas lineasPedidas() const { return lineas_; }
    Ajustes ajustesPedidos() const;
    void cerrar();

    // Reads now what gathered during a pause: called just before each frame, so the frame
    // shows it and the program wakes once for both.
    void leerPendiente()
    {
        if (pausado_)
            reanudar();
    }
    bool leyendoEnPausa() const { return pausado_; }

    // Output: queues one byte; false with the reason when the port refuses it.
    bool enviar(uint8_t byte, QString *motivo);

    // After a loss the port looks once a second for the same device and reopens it with the
    // same settings: through the link the user named (/dev/serial/by-id/...), or where a
    // device with the same identity is present. A bare name with no identity, which the
    // system hands to the next device that comes, is not reopened by itself. Opening or
    // closing ends the wait.
    static constexpr int intervaloVueltaMs = 1000;
    bool esperandoVuelta() const { return vuelta_.isActive(); }
    void cancelarVuelta() { vuelta_.stop(); }

signals:
    // The device went away or failed for good; the port has already been closed (and waits
    // for the device to come back where it can tell it is the same one).
    void perdido(const QString &motivo);
    // The device came back and the port is open again.
    void reconectado();

private:
    void leer();
    qint64 entregar(std::chrono::nanoseconds llegada);
    void pausar();
    void reanudar();
    void error(QSerialPort::SerialPortError codigo);
    void pedirLineas(Lineas lineas);
    void buscarVuelta();
    void ajustarLinea();
    QString motivoApertura(const QString &dispositivo) const;
    Identidad identidadDe(const QString &ubicacion) const;
    static quint64 marcaEnlace(const QString &ubicacion);

    QSerialPort port_;
    QString nombre_;
    QString dispositivo_;
    Lineas lineas_{false, false};
    // How the device was reached, for finding it again after a loss.
    bool porEnlace_ = false;
    quint64 marcaEnlace_ = 0; // which link file it was: a link made again is another one
    Identidad identidad_;
    ListaDispositivos lista_;
    QByteArray entrada_;
    Receptor receptor_;
    QTimer pausa_;
    QElapsedTimer desdePausa_;
    QElapsedTimer desdeEntrega_; // the last bytes handed over
    // Small reads within the current stretch, to tell a fast trickle from a slow stream.
    QElapsedTimer tramo_;
    qint64 bytesTramo_ = 0;
    int eventosTramo_ = 0;
    QTimer vuelta_;
    bool pausado_ = false;
    bool reanudando_ = false;
};
