#include "diagnostico.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace diagnostico {

std::optional<Permisos> permisosNegados(const QString &ubicacion, const Acceso &acceso)
{
#ifdef Q_OS_UNIX
    const QByteArray ruta = QFile::encodeName(ubicacion);
    struct stat datos;
    const Acceso sistema = ::access;
    const int r = (acceso ? acceso : sistema)(ruta.constData(), R_OK | W_OK);
    if (r == 0 || errno != EACCES
        || ::stat(ruta.constData(), &datos) != 0)
        return std::nullopt;
    const group *g = ::getgrgid(datos.st_gid);
    return Permisos{unsigned(datos.st_gid),
                    g ? QString::fromLocal8Bit(g->gr_name) : QString::number(datos.st_gid),
                    (datos.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)};
#else
    Q_UNUSED(ubicacion);
    Q_UNUSED(acceso);
    return std::nullopt;
#endif
}

QString motivoPermiso(const Permisos &p)
{
    // Joining root's group is no advice to give, and joining tty would not open a terminal
    // owned by another user's session.
    if (p.grupoLeeYEscribe && p.grupo != 0 && p.nombreGrupo != QStringLiteral("tty"))
        return QStringLiteral(
                   "su usuario no tiene permiso para usarlo. El dispositivo pertenece al grupo "
                   "«%1»: añada su usuario a ese grupo (sudo usermod -aG %1 $USER) y vuelva a "
                   "iniciar la sesión")
            .arg(p.nombreGrupo);
    return QStringLiteral("su usuario no tiene permiso para usarlo. Solo su propietario puede "
                          "abrirlo; el administrador del equipo puede darle acceso (por "
                          "ejemplo, con una regla de udev)");
}

QString motivoApertura(QSerialPort::SerialPortError error, const QString &ubicacion,
                       const QString &textoQt)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no existe ese dispositivo");
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        // Qt gives the same error for a device the user may not open and for one another
        // program holds.
        if (const auto permisos = permisosNegados(ubicacion))
            return motivoPermiso(*permisos);
        return QStringLiteral("lo está usando otro programa; ciérrelo e inténtelo de nuevo");
#else
        return QStringLiteral("lo está usando otro programa o su usuario no tiene permiso "
                              "para usarlo");
#endif
    case QSerialPort::UnsupportedOperationError:
        return QStringLiteral("no es un puerto serial");
    default:
        return textoQt;
    }
}

EstadoTrasFallo estadoTrasFallo(qintptr descriptor, const QString &ubicacion)
{
    EstadoTrasFallo e;
    e.existe = QFileInfo::exists(ubicacion);
#ifdef Q_OS_UNIX
    pollfd p{int(descriptor), POLLIN, 0};
    e.colgado = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    termios t;
    e.responde = ::tcgetattr(int(descriptor), &t) == 0;
#else
    // Elsewhere a failure is only ever reported for a device that has gone.
    Q_UNUSED(descriptor);
    e.colgado = true;
#endif
    return e;
}

} // namespace diagnostico
