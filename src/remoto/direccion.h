#pragma once

#include <optional>

#include <QString>

#include "remoto/clientemqtt.h"

// Where a controller is published: mqtt://HOST[:PUERTO]/NOMBRE (mqtts:// with TLS), and the
// credentials and TLS files for that broker, which never travel on a command line.
namespace direccion {

struct Direccion
{
    bool tls = false;
    QString host;
    int puerto = 1883;
    QString nombre; // the controller's, where the address names one
    QString texto() const;
};

// Whether a text is meant as a broker's address (it starts with mqtt:// or mqtts://).
bool esMqtt(const QString &texto);

// The address, or nullopt with the reason. `conNombre`: a controller's name must follow (and
// be one a topic can hold); otherwise none may.
std::optional<Direccion> leer(const QString &texto, bool conNombre, QString *motivo);

// A configuration file: "clave = valor" lines, '#' comments. Keys: usuario, contrasena, ca,
// certificado, clave (and whatever else the caller reads from `resto`). Where it holds a
// password or a key, only its owner may read it.
struct Configuracion
{
    QString usuario, contrasena, ca, certificado, clave;
    QList<std::pair<QString, QString>> resto; // other keys, in order
};
std::optional<Configuracion> leerConfiguracion(const QString &ruta, QString *motivo);

// The client's options for an address and a configuration.
ClienteMqtt::Opciones opciones(const Direccion &d, const Configuracion &c);

} // namespace direccion
