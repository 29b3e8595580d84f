#include "vuelta.h"

#include <algorithm>

using dispositivos::Dispositivo;
using dispositivos::Identidad;
using dispositivos::mismaUbicacion;

namespace {

// Devices of `lista` with identity `identidad`.
qsizetype iguales(const QList<Dispositivo> &lista, const Identidad &identidad)
{
    return std::count_if(lista.cbegin(), lista.cend(),
                         [&](const Dispositivo &d) { return d.identidad == identidad; });
}

} // namespace

Vuelta::Vuelta(const Apertura &apertura)
    : dispositivo_(apertura.dispositivo), marcaEnlace_(apertura.marcaEnlace),
      identidad_(apertura.identidad)
{
    const QString ubicacion = dispositivos::ubicacion(apertura.dispositivo);
    nodo_ = ubicacion;
    for (const Dispositivo &d : apertura.presentes)
        if (d.identidad == identidad_ && mismaUbicacion(d.ubicacion, ubicacion))
            nodo_ = d.ubicacion;
    if (!identidad_.conocida())
        modo_ = Modo::ninguno;
    // Cheap adapters have no serial number, or one every board of the model shares.
    else if (identidad_.serie.isEmpty() || iguales(apertura.presentes, identidad_) > 1)
        modo_ = Modo::nodo;
    else
        modo_ = Modo::serie;
}

bool Vuelta::mismoAparato(const Identidad &otra) const
{
    return modo_ == Modo::serie && otra == identidad_;
}

QString Vuelta::donde(const Mirada &mirada) const
{
    if (porEnlace()) {
        // The user's own name for the device, followed again once it points at a device: a
        // link made again (udev's by-id links and the simulator's are, when the device comes
        // back), or one that leads to the same device. A link left behind still names the old
        // node, which the system may give to the next device that comes.
        if (mirada.marcaEnlace != 0
            && (mirada.marcaEnlace != marcaEnlace_ || mismoAparato(mirada.enEnlace)))
            return dispositivo_;
        return {};
    }
    if (modo_ == Modo::ninguno)
        return {};
    // The same device wherever the system put it this time (ttyUSB0 may come back as
    // ttyUSB1), while its serial number is the only one of its kind.
    if (modo_ == Modo::serie && iguales(mirada.presentes, identidad_) == 1)
        for (const Dispositivo &d : mirada.presentes)
            if (d.identidad == identidad_)
                return d.ubicacion;
    for (const Dispositivo &d : mirada.presentes)
        if (mismaUbicacion(d.ubicacion, nodo_) && d.identidad == identidad_)
            return d.ubicacion;
    return {};
}
