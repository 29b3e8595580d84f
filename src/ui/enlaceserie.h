#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

#include "serial/dispositivos.h"

class QLineEdit;
class QPushButton;
class Adquisicion;
class PuertoSerie;

// Connecting, sending the set point and closing: the window's handlers of the serial link.
namespace enlaceserie {

using Avisar = std::function<void(const QString &)>;

// Click of "Conectar". With a port open, it closes it and opens the one now typed, as at
// any opening; if that fails, no port is left open and the message says so.
bool conectarPuerto(const QLineEdit &txtPuerto, QPushButton &btnPuerto, QPushButton &btnEnviar,
                    PuertoSerie &puerto, const Avisar &avisar);

// Click of "Enviar": one byte, the typed set point lowered to 100, which samples carry next
// and the box then shows. The first lowering of a run says why; `rangoDicho` keeps count.
bool enviarSetPoint(QLineEdit &txtSetPoint, Adquisicion &adquisicion, PuertoSerie &puerto,
                    const Avisar &avisar, bool &rangoDicho);

// Change of the port box: while a port is open, "Conectar" is usable exactly when the text
// names another device, so a user on the wrong port can leave it without restarting.
void cambioPuerto(const QLineEdit &txtPuerto, QPushButton &btnPuerto, const PuertoSerie &puerto);

// Closing at unload; also ends a wait for a lost device.
void cerrarPuerto(PuertoSerie &puerto);

// The port failed for good (device gone): it is already closed, and waits for the device to
// come back where it can tell it is the same one; "Conectar" is usable meanwhile and ends
// the wait. Returns the message given, to be taken back if the device returns.
QString puertoPerdido(const QString &motivo, QPushButton &btnPuerto, QPushButton &btnEnviar,
                      const PuertoSerie &puerto, const Avisar &avisar);

// The lost device came back and the port is open again, as after "Conectar".
void puertoRecuperado(QPushButton &btnPuerto, QPushButton &btnEnviar, const PuertoSerie &puerto);

// «Enviar» usable exactly when a set point can go out; where not, its tooltip says why (a
// remote controller's bridge that does not take set points, a broker that does not let
// this user publish them).
void permisoEnviar(QPushButton &btnEnviar, const PuertoSerie &puerto);

// Why the samples stopped before an opening of `actual`, for the mark on the trend: the port
// in use before (empty: none) lost and back, another port, or the same one opened again.
QString motivoApertura(const QString &anterior, const QString &actual, bool perdido);

// Shows as much of the port box's text as fits, and where it does not, the end of it: the
// device's own name in full (velmora-controlador, not /tmp/velm...).
void mostrarNombre(QLineEdit &txtPuerto);

// The port box's tooltip: the device the text names, where a link leads, and what the system
// knows of it among `presentes` (maker, product and serial number of a USB adapter).
QString ayudaPuerto(const QString &texto, const QList<dispositivos::Dispositivo> &presentes);

// Offers the serial ports present now as completions of the port box.
void completarPuertos(QLineEdit &txtPuerto);
// Offers these names, in a list wide enough to read the longest.
void completarPuertos(QLineEdit &txtPuerto, const QStringList &nombres);

} // namespace enlaceserie
