#pragma once

#include <QList>
#include <QString>

#include "serial/dispositivos.h"

// After a loss, which device may be opened again by itself: only the one the port had. Takes
// what the system shows from its caller, so it decides without a device or a clock.
class Vuelta
{
public:
    // What the system showed at the opening.
    struct Apertura
    {
        QString dispositivo;           // as opened (a link, a node)
        quint64 marcaEnlace = 0;       // the link file opened through; 0: not a link
        dispositivos::Identidad identidad;
        QList<dispositivos::Dispositivo> presentes;
    };
    // What the system shows now, at one look.
    struct Mirada
    {
        quint64 marcaEnlace = 0; // the link file at the same name now; 0: none
        dispositivos::Identidad enEnlace; // of the device the link leads to now
        QList<dispositivos::Dispositivo> presentes;
    };

    Vuelta() = default;
    explicit Vuelta(const Apertura &apertura);

    // Whether the device can be told when it comes back, so looking for it is worth it.
    bool reconocible() const { return porEnlace() || modo_ != Modo::ninguno; }
    // Where to open it now; empty while it is not there.
    QString donde(const Mirada &mirada) const;

private:
    enum class Modo {
        ninguno, // nothing tells it apart: the system gives its name to the next comer
        nodo,    // maker and product only (cheap adapters): on its own node only
        serie,   // a serial number no other device shares: wherever it comes back
    };
    bool porEnlace() const { return marcaEnlace_ != 0; }
    bool mismoAparato(const dispositivos::Identidad &otra) const;

    QString dispositivo_;
    QString nodo_; // the device file behind the name at the opening
    quint64 marcaEnlace_ = 0;
    dispositivos::Identidad identidad_;
    Modo modo_ = Modo::ninguno;
};
