#pragma once

#include <cstdint>
#include <optional>

#include <QList>
#include <QString>
#include <QStringList>

// A set-point program: stages run in order, the whole list repeated, with limits on the value
// and the set point to send when it passes one. Kept as a plain text file a person can write,
// one stage or setting a line.
struct Etapa
{
    enum class Tipo { escalon, rampa, mantener };
    Tipo tipo = Tipo::escalon;
    int setPoint = 0;   // not used by «Mantener»
    int64_t ms = 0;     // how long it holds (a ramp: how long it takes)
    bool operator==(const Etapa &) const = default;
};

struct Programa
{
    static constexpr int muestrasFueraPorDefecto = 3;
    static constexpr int maximoEtapas = 1000;
    static constexpr int maximoRepeticiones = 1000;
    static constexpr int maximoSetPoint = 254;  // what a byte can carry; sent as «Enviar» sends
    static constexpr int64_t maximoMs = 7LL * 24 * 3600 * 1000;

    QList<Etapa> etapas;
    int repeticiones = 1;
    std::optional<int> limiteSuperior, limiteInferior, setPointSeguro;
    int muestrasFuera = muestrasFueraPorDefecto;
    bool operator==(const Programa &) const = default;
};

namespace programa {

QString nombre(Etapa::Tipo tipo);

// Every line that does not read gives one message with its number; the program only where
// none did.
struct Lectura
{
    std::optional<Programa> programa;
    QStringList errores;
};
Lectura leer(const QString &texto);
QString escribir(const Programa &p);

Lectura leerArchivo(const QString &ruta);
bool guardarArchivo(const QString &ruta, const Programa &p, QString *motivo);

// Seconds as the file writes them: a point, up to three decimals, no trailing zeros.
QString textoSegundos(int64_t ms);

} // namespace programa
