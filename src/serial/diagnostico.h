#pragma once

#include <functional>
#include <optional>

#include <QSerialPort>
#include <QString>

// Why the port cannot be opened, or whether a failure on it is a loss, in the user's words.
// The facts come from the caller, so every case can be tried without the device.
namespace diagnostico {

// Who may open a device file that the user may not.
struct Permisos
{
    unsigned grupo = 0;       // the file's group id
    QString nombreGrupo;
    bool grupoLeeYEscribe = false;
};

// The system's access check (access(2): path, mode; 0 or -1 with errno); a test's own
// stands for a user who is not the administrator, whom access(2) grants everything.
using Acceso = std::function<int(const char *ruta, int modo)>;

// The device file's permissions where the user may not read and write it; nullopt where
// the user may (or the system does not say).
std::optional<Permisos> permisosNegados(const QString &ubicacion, const Acceso &acceso = {});

// The reason for a refused permission: a group to join only where joining it would open the
// device and is something a user may be advised to do.
QString motivoPermiso(const Permisos &permisos);

// The reason an opening of `ubicacion` failed with `error` (Qt's text `textoQt`).
QString motivoApertura(QSerialPort::SerialPortError error, const QString &ubicacion,
                       const QString &textoQt);

// What the system says of an open device after a failed read.
struct EstadoTrasFallo
{
    bool colgado = false;          // hang-up or error on the file descriptor
    bool existe = true;            // the device file is still there
    bool responde = true;          // the terminal still answers (its settings can be read)
};
EstadoTrasFallo estadoTrasFallo(qintptr descriptor, const QString &ubicacion);

// A read that found nothing (another reader took the bytes, a pause's last read) is no loss:
// only a hang-up, a device gone, or one that no longer answers.
inline bool esPerdida(const EstadoTrasFallo &e)
{
    return e.colgado || !e.existe || !e.responde;
}

} // namespace diagnostico
