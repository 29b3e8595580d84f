#pragma once

#include <optional>

#include <QList>
#include <QString>

// The serial devices the system knows, and how one is told from another.
namespace dispositivos {

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
    QString ubicacion; // the device file (COMn on Windows)
    Identidad identidad;
    QString nombre = {}; // the system's short name (ttyUSB0, COM3)
};

// The device a "Puerto Serial" text names: a whole number n is the n-th classic port
// (COMn on Windows, /dev/ttyS(n-1) elsewhere); any other text is taken as a device name or
// path. nullopt, with the reason, when the text names no port.
std::optional<QString> nombreDispositivo(const QString &texto, QString *motivo);

// The serial devices present now.
QList<Dispositivo> presentes();

// The device file a name stands for: a bare name (ttyUSB0) is looked for in /dev.
QString ubicacion(const QString &dispositivo);

// Whether two device names are the same device file's: Windows' names ignore case.
bool mismaUbicacion(const QString &a, const QString &b);

// Which link file is at `ubicacion` (0: none): a link made again is another file.
quint64 marcaEnlace(const QString &ubicacion);

} // namespace dispositivos
