#include "puertoserie.h"

#include <QFileInfo>
#include <QStandardPaths>

#include "remoto/direccion.h"
#include "remoto/puertoremoto.h"
#include "serial/diagnostico.h"
#include "serial/eventoscomm.h"

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

PuertoSerie::PuertoSerie(QObject *parent)
    : QObject(parent), lista_(dispositivos::presentes), entrada_(maxEntrada, Qt::Uninitialized)
{
    setObjectName(QStringLiteral("MSComm1"));
    port_.setBaudRate(baudios);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // The read buffer is left unbounded: while the UI thread keeps up, nothing is dropped.
    connect(&port_, &QSerialPort::readyRead, this, &PuertoSerie::leer);
    connect(&port_, &QSerialPort::errorOccurred, this, &PuertoSerie::error);
    reloj_.start();
    pausa_.setSingleShot(true);
    pausa_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(RitmoLectura::pausa));
    connect(&pausa_, &QTimer::timeout, this, &PuertoSerie::reanudar);
    vuelta_.setInterval(intervaloVuelta);
    connect(&vuelta_, &QTimer::timeout, this, &PuertoSerie::buscarVuelta);
}

PuertoSerie::~PuertoSerie() = default;

bool PuertoSerie::abrir(const QString &nombre, const QString &dispositivo, QString *motivo)
{
    const QString escrito = nombre.trimmed();
    cerrar();
    if (direccion::esMqtt(dispositivo))
        return abrirRemoto(escrito, dispositivo, motivo);
    port_.setPortName(dispositivo);
    const QString ubicacion = dispositivos::ubicacion(dispositivo);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (motivo)
            *motivo = diagnostico::motivoApertura(port_.error(), ubicacion, port_.errorString());
        port_.clearError();
        return false;
    }
    nombre_ = escrito;
    dispositivo_ = dispositivo;
    const bool porEnlace = QFileInfo(ubicacion).isSymLink();
    const QList<Dispositivo> presentes = lista_();
    vueltaDe_ = Vuelta({dispositivo, porEnlace ? dispositivos::marcaEnlace(ubicacion) : 0,
                        identidadDe(ubicacion, presentes), presentes});
    ajustarLinea();
    pedirLineas({true, false});
    // What waited before the opening came when nobody was reading: its times are unknown (a
    // serial driver drops it while the port is closed; a pseudo-terminal keeps it).
    port_.clear(QSerialPort::Input);
    port_.clearError();
    emit abierto();
    return true;
}

QString PuertoSerie::describir(const QString &nombre, const QString &dispositivo)
{
    const QString escrito = nombre.trimmed();
    if (escrito == dispositivo || escrito.isEmpty())
        return dispositivo;
    return QStringLiteral("%1 (%2)").arg(escrito, dispositivo);
}

PuertoSerie::Ajustes PuertoSerie::ajustesPedidos() const
{
    return {port_.baudRate(), port_.dataBits(), port_.parity(), port_.stopBits(),
            port_.flowControl(), lineas_.dtr, lineas_.rts};
}

PuertoSerie::Identidad PuertoSerie::identidadDe(const QString &donde,
                                                const QList<Dispositivo> &presentes) const
{
    const QString real = QFileInfo(donde).canonicalFilePath();
    for (const Dispositivo &d : presentes)
        if (dispositivos::mismaUbicacion(d.ubicacion, donde)
            || (!real.isEmpty() && dispositivos::mismaUbicacion(d.ubicacion, real)))
            return d.identidad;
    return {};
}

void PuertoSerie::pedirLineas(Lineas lineas)
{
    lineas_ = lineas;
    // Pseudo-terminals and some adapters have no modem lines: not being able to set
    // them is no reason to refuse the port.
    port_.setDataTerminalReady(lineas.dtr);
    port_.setRequestToSend(lineas.rts);
}

void PuertoSerie::ajustarLinea()
{
#ifdef Q_OS_UNIX
    // Qt's raw mode reads a line break (a cable pulled, a controller resetting) as a byte 0,
    // and a framing or parity error as a byte of whatever was heard: none of them is a
    // sample. Elsewhere line errors come as events, never as bytes.
    const int fd = int(port_.handle());
    termios t;
    if (::tcgetattr(fd, &t) != 0)
        return;
    t.c_iflag |= IGNBRK | IGNPAR;
    t.c_iflag &= ~tcflag_t(BRKINT | PARMRK);
    ::tcsetattr(fd, TCSANOW, &t);
#endif
}

void PuertoSerie::buscarVuelta()
{
    Vuelta::Mirada mirada;
    const QString ubicacion = dispositivos::ubicacion(dispositivo_);
    mirada.presentes = lista_();
    if (QFileInfo(ubicacion).isSymLink() && QFileInfo::exists(ubicacion)) {
        mirada.marcaEnlace = dispositivos::marcaEnlace(ubicacion);
        mirada.enEnlace = identidadDe(ubicacion, mirada.presentes);
    }
    const QString donde = vueltaDe_.donde(mirada);
    if (donde.isEmpty())
        return;
    const QString nombre = nombre_;
    if (!abrir(nombre, donde, nullptr)) {
        vuelta_.start(); // there, but not ready or held by another program: try again
        return;
    }
    emit reconectado();
}

QString PuertoSerie::configuracionMqttPorDefecto()
{
    return QStandardPaths::locate(QStandardPaths::GenericConfigLocation,
                                  QStringLiteral("velmora/mqtt.conf"));
}

bool PuertoSerie::abrirRemoto(const QString &nombre, const QString &texto, QString *motivo)
{
    QString porque;
    const auto d = direccion::leer(texto, true, &porque);
    direccion::Configuracion config;
    if (d && !configuracionMqtt_.isEmpty()) {
        if (const auto leida = direccion::leerConfiguracion(configuracionMqtt_, &porque))
            config = *leida;
    }
    auto remoto = d && porque.isEmpty() ? std::make_unique<PuertoRemoto>(*d, config) : nullptr;
    if (!remoto || !remoto->abrir(&porque)) {
        if (motivo)
            *motivo = porque;
        return false;
    }
    remoto_ = std::move(remoto);
    remotoPerdido_ = false;
    nombre_ = nombre;
    dispositivo_ = d->texto();
    remoto_->setReceptor([this](std::span<const lineaprotocolo::Muestra> muestras) {
        if (receptorMuestras_)
            receptorMuestras_(muestras);
    });
    connect(remoto_.get(), &PuertoRemoto::perdido, this, [this](const QString &porque) {
        remotoPerdido_ = true;
        emit perdido(porque);
    });
    connect(remoto_.get(), &PuertoRemoto::conectado, this, [this] {
        if (!remotoPerdido_)
            return;
        remotoPerdido_ = false;
        emit abierto();
        emit reconectado();
    });
    connect(remoto_.get(), &PuertoRemoto::permisoCambiado, this, &PuertoSerie::permisoCambiado);
    emit abierto();
    return true;
}

bool PuertoSerie::puedeEnviar(QString *motivo) const
{
    if (remoto_)
        return remoto_->puedeEnviar(motivo);
    if (!port_.isOpen() && motivo)
        *motivo = QStringLiteral("el puerto está cerrado");
    return port_.isOpen();
}

bool PuertoSerie::esperandoVuelta() const
{
    // A broker is tried again and again by the client itself.
    return remoto_ ? remotoPerdido_ : vuelta_.isActive();
}

void PuertoSerie::cerrar()
{
    remoto_.reset();
    remotoPerdido_ = false;
    vuelta_.stop();
    pausa_.stop();
    pausado_ = false;
    reanudando_ = false;
    ritmo_.reiniciar();
    port_.setReadBufferSize(0);
    if (port_.isOpen())
        port_.close();
}

bool PuertoSerie::enviar(uint8_t byte, QString *motivo)
{
    if (remoto_)
        return remoto_->enviar(byte, motivo);
    const char c = static_cast<char>(byte);
    if (!port_.isOpen() || port_.write(&c, 1) != 1) {
        if (motivo)
            *motivo = port_.isOpen() ? port_.errorString()
                                     : QStringLiteral("el puerto está cerrado");
        return false;
    }
    // Out now, not when the event loop next turns: a program's safety stop is such a byte.
    port_.flush();
    return true;
}

void PuertoSerie::leer()
{
    ++despertares_;
    if (pausado_ || reanudando_)
        return; // what comes waits, in the kernel or in QSerialPort's buffer, for the pause's end
    const qint64 total = entregar(std::nullopt);
    if (ritmo_.trasLectura(total, ahora()))
        pausar();
}

qint64 PuertoSerie::entregar(std::optional<RitmoLectura::Tiempo> pausa)
{
    const qint64 esperando = port_.bytesAvailable();
    const RitmoLectura::Tiempo t = ahora();
    qint64 total = 0;
    while (port_.isOpen()) {
        const qint64 n = port_.read(entrada_.data(), entrada_.size());
        if (n <= 0)
            break;
        total += n;
        if (receptor_)
            receptor_(evento::comEvReceive, QByteArrayView(entrada_.constData(), n),
                      ritmo_.llegada(n, esperando, t, pausa));
    }
    if (total > 0)
        ritmo_.entregado(total, t);
    return total;
}

void PuertoSerie::pausar()
{
    if (!port_.isOpen())
        return;
    pausado_ = true;
    inicioPausa_ = ahora();
    // QSerialPort stops watching the device once its buffer holds this much: the first byte
    // of the pause wakes the program once, the rest waits in the kernel.
    port_.setReadBufferSize(1);
    pausa_.start();
}

void PuertoSerie::reanudar()
{
    pausa_.stop();
    if (!pausado_)
        return;
    pausado_ = false;
    if (!port_.isOpen())
        return;
    const RitmoLectura::Tiempo reunido = ahora() - inicioPausa_;
    port_.setReadBufferSize(0); // watches the device again
    // What gathered in the kernel joins the byte QSerialPort may hold, in this wake-up rather
    // than in one more, and all of it goes to the pipeline as one delivery.
    reanudando_ = true;
    port_.waitForReadyRead(0);
    reanudando_ = false;
    if (ritmo_.trasPausa(entregar(reunido), reunido))
        pausar();
}

void PuertoSerie::error(QSerialPort::SerialPortError codigo)
{
    if (codigo != QSerialPort::ResourceError && codigo != QSerialPort::ReadError)
        return;
    if (!port_.isOpen())
        return;
    const QString ubicacion = dispositivos::ubicacion(dispositivo_);
    const diagnostico::EstadoTrasFallo estado =
        diagnostico::estadoTrasFallo(qintptr(port_.handle()), ubicacion);
    if (!diagnostico::esPerdida(estado)) {
        // A read that found nothing: the bytes it was woken for were taken a moment before
        // (by the read that ends a pause, or by another program reading the same device).
        // Qt calls that an error and stops watching the device; the device is fine.
        ++lecturasVacias_;
        port_.clearError();
        port_.setReadBufferSize(port_.readBufferSize()); // watches the device again
        return;
    }
    // A hang-up reads as an end of file, which leaves errno as some earlier call set it:
    // that says nothing of the port, the hang-up does.
    QString motivo = port_.errorString();
    if (estado.colgado || !estado.existe || motivo.isEmpty())
        motivo = QStringLiteral("el dispositivo se ha desconectado");
    // Closed from the event loop, not from inside the port's own notification.
    QMetaObject::invokeMethod(
        this,
        [this, motivo] {
            if (!port_.isOpen())
                return;
            // What the port still holds (a pause's first byte) is delivered; what the kernel
            // held is gone with the hang-up.
            const std::optional<RitmoLectura::Tiempo> pausa =
                pausado_ ? std::optional(ahora() - inicioPausa_) : std::nullopt;
            pausado_ = false;
            entregar(pausa);
            cerrar();
            if (vueltaDe_.reconocible())
                vuelta_.start();
            emit perdido(motivo);
        },
        Qt::QueuedConnection);
}
