#pragma once

#include <QString>

// The topics of one controller on the broker, all under velmora/NOMBRE/.
namespace temas {

inline QString raiz(const QString &nombre) { return QStringLiteral("velmora/") + nombre; }
// Its samples, in batches (line protocol, measurement "velmora").
inline QString muestras(const QString &nombre) { return raiz(nombre) + QStringLiteral("/muestras"); }
// Each change of its set point ("velmora_setpoint").
inline QString setPoint(const QString &nombre) { return raiz(nombre) + QStringLiteral("/setpoint"); }
// Each step's figures once final ("velmora_escalon").
inline QString escalones(const QString &nombre) { return raiz(nombre) + QStringLiteral("/escalones"); }
// The bridge's own state, retained, with a last will ("velmora_estado").
inline QString estado(const QString &nombre) { return raiz(nombre) + QStringLiteral("/estado"); }
// A set point to send to the controller: its number as text. Only a bridge started with
// --permitir-consigna listens, and only users the broker lets publish here are heard.
inline QString enviar(const QString &nombre) { return raiz(nombre) + QStringLiteral("/enviar"); }

inline constexpr char medidaSetPoint[] = "velmora_setpoint";
inline constexpr char medidaEscalon[] = "velmora_escalon";
inline constexpr char medidaEstado[] = "velmora_estado";

} // namespace temas
