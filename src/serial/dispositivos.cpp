#include "dispositivos.h"

#include <QFile>
#include <QSerialPortInfo>

#include "core/numeros.h"
#include "remoto/direccion.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace dispositivos {

std::optional<QString> nombreDispositivo(const QString &texto, QString *motivo)
{
    const QString nombre = texto.trimmed();
    if (const auto numero = numeros::leerEntero(nombre)) {
        if (*numero < 1) {
            *motivo = QStringLiteral("el número de puerto debe ser 1 o mayor");
            return std::nullopt;
        }
#ifdef Q_OS_WIN
        return QStringLiteral("COM%1").arg(*numero);
#else
        return QStringLiteral("/dev/ttyS%1").arg(*numero - 1);
#endif
    }
    // A controller on a broker, written the one way the port writes it.
    if (direccion::esMqtt(nombre)) {
        const auto d = direccion::leer(nombre, true, motivo);
        return d ? std::optional(d->texto()) : std::nullopt;
    }
    if (nombre.isEmpty() || numeros::leerReal(nombre)) {
        *motivo = nombre.isEmpty() ? QStringLiteral("no se ha indicado ningún puerto")
                                   : QStringLiteral("el número de puerto es demasiado grande");
        return std::nullopt;
    }
    return nombre;
}

QList<Dispositivo> presentes()
{
    QList<Dispositivo> lista;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        const QString donde = info.portName();
#else
        const QString donde = info.systemLocation();
#endif
        lista.append({donde,
                      {info.hasVendorIdentifier() ? info.vendorIdentifier() : quint16(0),
                       info.hasProductIdentifier() ? info.productIdentifier() : quint16(0),
                       info.serialNumber()},
                      info.portName()});
    }
    return lista;
}

QString ubicacion(const QString &dispositivo)
{
#ifdef Q_OS_UNIX
    if (dispositivo.startsWith(u'/') || dispositivo.startsWith(u'.'))
        return dispositivo;
    return QStringLiteral("/dev/") + dispositivo;
#else
    return dispositivo;
#endif
}

bool mismaUbicacion(const QString &a, const QString &b)
{
#ifdef Q_OS_WIN
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    return a == b;
#endif
}

quint64 marcaEnlace(const QString &donde)
{
#ifdef Q_OS_UNIX
    struct stat datos;
    if (::lstat(QFile::encodeName(donde).constData(), &datos) != 0)
        return 0;
    // The file and when it was made: a file system may give a new link a freed inode number.
#if defined(Q_OS_LINUX)
    const quint64 hecho = quint64(datos.st_ctim.tv_sec) * 1'000'000'000u + quint64(datos.st_ctim.tv_nsec);
#elif defined(Q_OS_DARWIN)
    const quint64 hecho = quint64(datos.st_ctimespec.tv_sec) * 1'000'000'000u
                          + quint64(datos.st_ctimespec.tv_nsec);
#else
    const quint64 hecho = quint64(datos.st_ctime) * 1'000'000'000u;
#endif
    return quint64(datos.st_ino) ^ hecho;
#else
    Q_UNUSED(donde);
    return 0;
#endif
}

} // namespace dispositivos
