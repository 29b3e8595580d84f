#include "puertoserie.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include "serial/eventoscomm.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

// Small reads after the first of a stretch before its rate is judged: a few samples, so
// that two of a slow stream's samples that happen to come close together start no pause.
constexpr qint64 minimoTramo = 8;

QList<PuertoSerie::Dispositivo> dispositivosPresentes()
{
    QList<PuertoSerie::Dispositivo> lista;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        const QString donde = info.portName();
#else
        const QString donde = info.systemLocation();
#endif
        lista.append({donde,
                      {info.hasVendorIdentifier() ? info.vendorIdentifier() : quint16(0),
                       info.hasProductIdentifier() ? info.productIdentifier() : quint16(0),
                       info.serialNumber()}});
    }
    return lista;
}

} // namespace

PuertoSerie::PuertoSerie(QObject *parent)
    : QObject(parent), lista_(dispositivosPresentes), entrada_(maxEntrada, Qt::Uninitialized)
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
    pausa_.setSingleShot(true);
    pausa_.setInterval(pausaMs);
    connect(&pausa_, &QTimer::timeout, this, &PuertoSerie::reanudar);
    vuelta_.setInterval(intervaloVueltaMs);
    connect(&vuelta_, &QTimer::timeout, this, &PuertoSerie::buscarVuelta);
}

PuertoSerie::~PuertoSerie() = default;

bool PuertoSerie::abrir(const QString &nombre, const QString &dispositivo, QString *motivo)
{
    const QString escrito = nombre.trimmed();
    cerrar();
    port_.setPortName(dispositivo);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (motivo)
            *motivo = motivoApertura(dispositivo);
        port_.clearError();
        return false;
    }
    nombre_ = escrito;
    dispositivo_ = dispositivo;
    porEnlace_ = QFileInfo(ubicacion(dispositivo)).isSymLink();
    marcaEnlace_ = porEnlace_ ? marcaEnlace(ubicacion(dispositivo)) : 0;
    identidad_ = identidadDe(ubicacion(dispositivo));
    ajustarLinea();
    pedirLineas({true, false});
    port_.clearError();
    return true;
}

QString PuertoSerie::describir(const QString &nombre, const QString &dispositivo)
{
    const QString escrito = nombre.trimmed();
    if (escrito == dispositivo || escrito.isEmpty())
        return dispositivo;
    return QStringLiteral("%1 (%2)").arg(escrito, dispositivo);
}

QString PuertoSerie::ubicacion(const QString &dispositivo)
{
#ifdef Q_OS_UNIX
    if (dispositivo.startsWith(u'/') || dispositivo.startsWith(u'.'))
        return dispositivo;
    return QStringLiteral("/dev/") + dispositivo;
#else
    return dispositivo;
#endif
}

quint64 PuertoSerie::marcaEnlace(const QString &donde)
{
#ifdef Q_OS_UNIX
    struct stat datos;
    // The file and when it was made: a file system may give a new link a freed inode number.
    if (::lstat(QFile::encodeName(donde).constData(), &datos) == 0)
        return quint64(datos.st_ino) ^ (quint64(datos.st_ctim.tv_sec) * 1'000'000'000u
                                        + quint64(datos.st_ctim.tv_nsec));
#else
    Q_UNUSED(donde);
#endif
    return 0;
}

PuertoSerie::Ajustes PuertoSerie::ajustesPedidos() const
{
    return {port_.baudRate(), port_.dataBits(), port_.parity(), port_.stopBits(),
            port_.flowControl()};
}

PuertoSerie::Identidad PuertoSerie::identidadDe(const QString &donde) const
{
    const QString real = QFileInfo(donde).canonicalFilePath();
    for (const Dispositivo &d : lista_())
        if (d.ubicacion == donde || (!real.isEmpty() && d.ubicacion == real))
            return d.identidad;
    return {};
}

QString PuertoSerie::motivoApertura(const QString &dispositivo) const
{
    switch (port_.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no existe ese dispositivo");
    case QSerialPort::PermissionError: {
#ifdef Q_OS_UNIX
        // Qt gives the same error for a device the user may not open and for one another
        // program holds; only the first is mended by the user's groups.
        const QByteArray ruta = QFile::encodeName(ubicacion(dispositivo));
        struct stat datos;
        if (::access(ruta.constData(), R_OK | W_OK) != 0 && errno == EACCES
            && ::stat(ruta.constData(), &datos) == 0) {
            const group *g = ::getgrgid(datos.st_gid);
            const QString grupo = g ? QString::fromLocal8Bit(g->gr_name)
                                    : QString::number(datos.st_gid);
            return QStringLiteral(
                       "su usuario no tiene permiso para usarlo. El dispositivo pertenece al "
                       "grupo «%1»: añada su usuario a ese grupo (sudo usermod -aG %1 $USER) "
                       "y vuelva a iniciar la sesión")
                .arg(grupo);
        }
        return QStringLiteral("lo está usando otro programa; ciérrelo e inténtelo de nuevo");
#else
        return QStringLiteral("lo está usando otro programa o su usuario no tiene permiso "
                              "para usarlo");
#endif
    }
    case QSerialPort::UnsupportedOperationError:
        return QStringLiteral("no es un puerto serie");
    default:
        return port_.errorString();
    }
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
    QString donde;
    if (porEnlace_) {
        // The user's own name for the device, followed again once it points at a device: a
        // link made again (udev's by-id links and the simulator's are, when the device comes
        // back), or one that leads to a device with the same identity. A link left behind
        // still names the old device node, which the system may give to the next device that
        // comes. A look at the name costs less than a failed opening.
        const QString enlace = ubicacion(dispositivo_);
        if (QFileInfo::exists(enlace)
            && (marcaEnlace(enlace) != marcaEnlace_
                || (identidad_.conocida() && identidadDe(enlace) == identidad_)))
            donde = dispositivo_;
    } else {
        // The same device, wherever the system put it this time (ttyUSB0 may come back as
        // ttyUSB1, and another adapter may take ttyUSB0).
        for (const Dispositivo &d : lista_()) {
            if (d.identidad != identidad_)
                continue;
            donde = d.ubicacion;
            if (d.ubicacion == ubicacion(dispositivo_))
                break;
        }
    }
    if (donde.isEmpty())
        return;
    const QString nombre = nombre_;
    if (!abrir(nombre, donde, nullptr)) {
        vuelta_.start(); // there, but not ready or held by another program: try again
        return;
    }
    emit reconectado();
}

void PuertoSerie::cerrar()
{
    vuelta_.stop();
    pausa_.stop();
    pausado_ = false;
    reanudando_ = false;
    tramo_.invalidate();
    desdeEntrega_.invalidate();
    port_.setReadBufferSize(0);
    if (port_.isOpen())
        port_.close();
}

bool PuertoSerie::enviar(uint8_t byte, QString *motivo)
{
    const char c = static_cast<char>(byte);
    if (!port_.isOpen() || port_.write(&c, 1) != 1) {
        if (motivo)
            *motivo = port_.isOpen() ? port_.errorString()
                                     : QStringLiteral("el puerto está cerrado");
        return false;
    }
    return true;
}

void PuertoSerie::leer()
{
    if (pausado_ || reanudando_)
        return; // what comes waits, in the kernel or in QSerialPort's buffer, for the pause's end
    const qint64 total = entregar(std::chrono::nanoseconds::zero());
    if (total <= 0)
        return;
    if (total >= rafagaBytes) {
        tramo_.invalidate(); // large reads cost little: nothing to gather
        return;
    }
    // A stretch of small reads: the bytes after its first one, over the time since it.
    if (!tramo_.isValid()) {
        tramo_.start();
        bytesTramo_ = 0;
        return;
    }
    bytesTramo_ += total;
    if (bytesTramo_ < minimoTramo) {
        if (tramo_.elapsed() > pausaMs)
            tramo_.invalidate(); // too slow to matter
        return;
    }
    const bool rapido = bytesTramo_ * 1000 >= ritmoPausa * tramo_.elapsed();
    tramo_.invalidate();
    if (rapido)
        pausar();
}

qint64 PuertoSerie::entregar(std::chrono::nanoseconds reunido)
{
    const qint64 esperando = port_.bytesAvailable();
    // Gathered during a pause, the bytes came over the whole pause. Read as they came but
    // several at once soon after the last delivery, they are a steady stream read late (a busy
    // computer) or an adapter's packet: they came over the time since then. After a silence
    // they came together, no closer than the line carries them.
    if (reunido == std::chrono::nanoseconds::zero() && desdeEntrega_.isValid()
        && desdeEntrega_.elapsed() <= pausaMs)
        reunido = std::chrono::nanoseconds(desdeEntrega_.nsecsElapsed());
    qint64 total = 0;
    while (port_.isOpen()) {
        const qint64 n = port_.read(entrada_.data(), entrada_.size());
        if (n <= 0)
            break;
        total += n;
        const std::chrono::nanoseconds llegada =
            reunido > std::chrono::nanoseconds::zero() ? reunido * n / std::max(esperando, n)
                                                       : tiempoByte * n;
        if (receptor_)
            receptor_(evento::comEvReceive, QByteArrayView(entrada_.constData(), n), llegada);
    }
    if (total > 0)
        desdeEntrega_.start();
    return total;
}

void PuertoSerie::pausar()
{
    if (!port_.isOpen())
        return;
    pausado_ = true;
    desdePausa_.start();
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
    const std::chrono::nanoseconds reunido(desdePausa_.nsecsElapsed());
    port_.setReadBufferSize(0); // watches the device again
    // What gathered in the kernel joins the byte QSerialPort may hold, in this wake-up rather
    // than in one more, and all of it goes to the pipeline as one delivery.
    reanudando_ = true;
    port_.waitForReadyRead(0);
    reanudando_ = false;
    const qint64 leidos = entregar(reunido);
    const qint64 ms = std::max<qint64>(1, reunido.count() / 1'000'000);
    if (leidos > 0 && leidos < limitePausa && leidos * 1000 >= ritmoPausa * ms)
        pausar(); // still a fast trickle
    else
        tramo_.invalidate();
}

void PuertoSerie::error(QSerialPort::SerialPortError codigo)
{
    if (codigo != QSerialPort::ResourceError && codigo != QSerialPort::ReadError)
        return;
    if (!port_.isOpen())
        return;
    QString motivo = port_.errorString();
    bool colgado = false;
#ifdef Q_OS_UNIX
    // A hang-up reads as an end of file, which leaves errno as some earlier call set it:
    // that says nothing of the port, the hang-up does.
    pollfd p{int(port_.handle()), POLLIN, 0};
    const int listos = ::poll(&p, 1, 0);
    colgado = listos > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    // A read that found nothing, with nothing to read now: the bytes it was woken for were
    // taken a moment before (by the read that ends a pause, in the same turn of the event
    // loop, or by another program reading the same device). Qt calls that an error, with
    // whatever errno was, and stops watching the device; the device is fine.
    if (listos == 0 && QFileInfo::exists(ubicacion(dispositivo_))) {
        port_.clearError();
        port_.setReadBufferSize(port_.readBufferSize()); // watches the device again
        return;
    }
#endif
    if (colgado || motivo.isEmpty() || !QFileInfo::exists(ubicacion(dispositivo_)))
        motivo = QStringLiteral("el dispositivo se ha desconectado");
    // Closed from the event loop, not from inside the port's own notification.
    QMetaObject::invokeMethod(
        this,
        [this, motivo] {
            if (!port_.isOpen())
                return;
            // What the port still holds (a pause's first byte) is delivered; what the kernel
            // held is gone with the hang-up.
            const std::chrono::nanoseconds reunido(pausado_ ? desdePausa_.nsecsElapsed() : 0);
            pausado_ = false;
            entregar(reunido);
            cerrar();
            if (porEnlace_ || identidad_.conocida())
                vuelta_.start();
            emit perdido(motivo);
        },
        Qt::QueuedConnection);
}
