#include "puertoserie.h"

#include "serial/eventoscomm.h"

#include <QFileInfo>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <termios.h>
#endif

PuertoSerie::PuertoSerie(QObject *parent)
    : QObject(parent), entrada_(maxEntrada, Qt::Uninitialized)
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
    vuelta_.stop();
    if (port_.isOpen())
        port_.close();
    port_.setPortName(dispositivo);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (motivo)
            *motivo = port_.errorString();
        port_.clearError();
        return false;
    }
    nombre_ = nombre.trimmed();
    dispositivo_ = dispositivo;
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
#ifdef Q_OS_UNIX
    // A look at the name costs less than an opening that fails (and its lock file). A link
    // (/dev/serial/by-id/...) counts once it points at a device again.
    const QString ubicacion = dispositivo_.startsWith(u'/') || dispositivo_.startsWith(u'.')
                                  ? dispositivo_
                                  : QStringLiteral("/dev/") + dispositivo_;
    if (!QFileInfo::exists(ubicacion))
        return;
#endif
    if (!abrir(nombre_, dispositivo_, nullptr)) {
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
    if (pausado_)
        return; // what comes waits, in the kernel or in QSerialPort's buffer, for the pause's end
    const qint64 total = entregar();
    if (reanudando_) {
        leidoAlReanudar_ += total;
        return;
    }
    const bool seguidos = desdeUltimoEvento_.isValid() && desdeUltimoEvento_.elapsed() < rafagaMs;
    desdeUltimoEvento_.start();
    if (seguidos && total > 0 && total < rafagaBytes)
        pausar();
}

qint64 PuertoSerie::entregar()
{
    qint64 total = 0;
    while (port_.isOpen()) {
        const qint64 n = port_.read(entrada_.data(), entrada_.size());
        if (n <= 0)
            break;
        total += n;
        if (receptor_)
            receptor_(evento::comEvReceive, QByteArrayView(entrada_.constData(), n));
    }
    return total;
}

QSocketNotifier *PuertoSerie::avisoLectura()
{
    const auto avisos = port_.findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier *aviso : avisos)
        if (aviso->type() == QSocketNotifier::Read)
            return aviso;
    return nullptr;
}

void PuertoSerie::pausar()
{
    if (!port_.isOpen())
        return;
    pausado_ = true;
    // Where the port watches its device with a socket notifier (POSIX), it stops now; the
    // one-byte buffer elsewhere makes QSerialPort stop after one more byte. Were it watched
    // again meanwhile, what came would wait in QSerialPort's buffer, not be lost.
    if (QSocketNotifier *aviso = avisoLectura())
        aviso->setEnabled(false);
    else
        port_.setReadBufferSize(1);
    pausa_.start();
}

void PuertoSerie::reanudar()
{
    pausa_.stop();
    pausado_ = false;
    if (!port_.isOpen())
        return;
    if (QSocketNotifier *aviso = avisoLectura())
        aviso->setEnabled(true);
    port_.setReadBufferSize(0); // watches the port again
    // The byte Qt may hold, then what gathered in the kernel, read in this wake-up (leer()
    // runs inside waitForReadyRead) rather than in one more.
    reanudando_ = true;
    leidoAlReanudar_ = entregar();
    port_.waitForReadyRead(0);
    reanudando_ = false;
    desdeUltimoEvento_.start();
    if (leidoAlReanudar_ >= minimoPausa && leidoAlReanudar_ < limitePausa)
        pausar();
}

void PuertoSerie::error(QSerialPort::SerialPortError codigo)
{
    if (codigo != QSerialPort::ResourceError && codigo != QSerialPort::ReadError)
        return;
    if (!port_.isOpen())
        return;
    QString motivo = port_.errorString();
    // A hang-up reads as an end of file, which leaves errno as some earlier call set it:
    // that says nothing of the port, the hang-up does.
    bool colgado = false;
#ifdef Q_OS_UNIX
    pollfd p{int(port_.handle()), POLLIN, 0};
    colgado = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
#endif
    if (colgado || motivo.isEmpty() || !QFileInfo::exists(dispositivo_))
        motivo = QStringLiteral("el dispositivo se ha desconectado");
    // Closed from the event loop, not from inside the port's own notification.
    QMetaObject::invokeMethod(
        this,
        [this, motivo] {
            if (!port_.isOpen())
                return;
            pausado_ = false;
            leer(); // what arrived before the failure is still delivered
            cerrar();
            vuelta_.start();
            emit perdido(motivo);
        },
        Qt::QueuedConnection);
}
