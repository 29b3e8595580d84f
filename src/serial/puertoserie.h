#pragma once

#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSerialPort>
#include <QElapsedTimer>
#include <QTimer>

class QSocketNotifier;

// The serial control: one port with the controller's fixed line settings. Everything that
// arrives goes to the receptor as a receive event with the bytes then waiting, on the UI
// thread; the same receptor is what tests and benchmarks feed.
class PuertoSerie : public QObject
{
    Q_OBJECT
public:
    using Receptor = std::function<void(int16_t codigo, QByteArrayView entrada)>;

    static constexpr qint32 baudios = 19200;
    // Largest chunk handed over in one event; what waits beyond it comes in the next one.
    static constexpr qsizetype maxEntrada = 32766;
    // Bytes trickling in a few at a time (a UART at full speed, an adapter's short packets)
    // would wake the program for every few bytes. When small events come close together,
    // reading pauses and the kernel gathers what comes, until the chart's next frame
    // (leerPendiente) or at most pausaMs; while a pause gathers a trickle (at least
    // minimoPausa bytes, under limitePausa), reading pauses again. A controller sending a
    // sample now and then keeps one event per sample, so «txtTiempo» shows the time between
    // them. At 19200 baud a pause gathers at most 192 bytes; nothing is lost or reordered.
    static constexpr qsizetype rafagaBytes = 64;
    static constexpr qint64 rafagaMs = 20;
    static constexpr qsizetype minimoPausa = 8;
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

    // PortOpen = True on `dispositivo`, the device `nombre` (as the user typed it) resolved
    // to. On failure the port stays closed and `motivo` gets the system's reason.
    bool abrir(const QString &nombre, const QString &dispositivo, QString *motivo);
    bool PortOpen() const { return port_.isOpen(); }
    // The port for messages: as typed, and the device it was resolved to where they differ.
    // Kept after a loss, when the system can no longer tell what the device was.
    QString descripcion() const { return describir(nombre_, dispositivo_); }
    static QString describir(const QString &nombre, const QString &dispositivo);
    const QString &nombre() const { return nombre_; }
    const QString &dispositivo() const { return dispositivo_; }
    Lineas lineasPedidas() const { return lineas_; }
    void cerrar();

    // Reads now what gathered during a pause: called just before each frame, so the frame
    // shows it and the program wakes once for both.
    void leerPendiente()
    {
        if (pausado_)
            reanudar();
    }

    // Output: queues one byte; false with the reason when the port refuses it.
    bool enviar(uint8_t byte, QString *motivo);

    // After a loss the port looks once a second for the same device (by the name it was
    // opened with) and reopens it with the same settings. Opening or closing ends the wait.
    static constexpr int intervaloVueltaMs = 1000;
    bool esperandoVuelta() const { return vuelta_.isActive(); }
    void cancelarVuelta() { vuelta_.stop(); }

signals:
    // The device went away or failed for good; the port has already been closed and waits
    // for the device to come back.
    void perdido(const QString &motivo);
    // The device came back and the port is open again.
    void reconectado();

private:
    void leer();
    qint64 entregar();
    void pausar();
    QSocketNotifier *avisoLectura();
    void reanudar();
    void error(QSerialPort::SerialPortError codigo);
    void pedirLineas(Lineas lineas);
    void buscarVuelta();
    void ajustarLinea();

    QSerialPort port_;
    QString nombre_;
    QString dispositivo_;
    Lineas lineas_{false, false};
    QByteArray entrada_;
    Receptor receptor_;
    QTimer pausa_;
    QElapsedTimer desdeUltimoEvento_;
    QTimer vuelta_;
    bool pausado_ = false;
    bool reanudando_ = false;
    qint64 leidoAlReanudar_ = 0;
};
