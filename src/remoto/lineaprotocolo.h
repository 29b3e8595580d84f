#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// What travels between a bridge and its subscribers: InfluxDB line protocol, so Telegraf's
// MQTT consumer takes it as it is. A sample is one line,
//   velmora,controlador=NOMBRE valor=37i,consigna=30i,seq=1234i 1765280000123000000
// (integers with their "i"; consigna left out while the set point is unknown; the time in
// nanoseconds since the epoch, whole milliseconds). A message holds one or more lines.
namespace lineaprotocolo {

inline constexpr char medidaMuestras[] = "velmora";

struct Muestra
{
    int64_t seq = 0;     // counted by the bridge from 1; a gap is a loss, a repeat a resend
    int64_t msEpoca = 0; // the sample's own time
    uint8_t valor = 0;
    std::optional<uint8_t> consigna;
    bool operator==(const Muestra &) const = default;
};

// A field's value as written: integer (with "i"), float, boolean or string.
struct Valor
{
    enum class Tipo { entero, real, booleano, texto } tipo = Tipo::entero;
    int64_t entero = 0;
    double real = 0.0;
    bool booleano = false;
    QString texto;
    bool operator==(const Valor &) const = default;
};

struct Punto
{
    QString medida;
    std::vector<std::pair<QString, QString>> etiquetas;
    std::vector<std::pair<QString, Valor>> campos;
    std::optional<int64_t> ns;
    const Valor *campo(const QString &clave) const;
    QString etiqueta(const QString &clave) const;
};

// Escapes for the parts of a line: a measurement (commas, spaces), a tag key or value or a
// field key (commas, equals signs, spaces), a string field (quotes); backslashes in all.
QByteArray escaparMedida(const QString &texto);
QByteArray escaparClave(const QString &texto);
QByteArray escaparTexto(const QString &texto);

// A name can be a controller's where it fits in a topic level and in a line: no '/', '+',
// '#', no control characters, not empty. Otherwise the reason.
std::optional<QString> nombreInvalido(const QString &nombre);

// "velmora,controlador=NOMBRE", escaped once for every line written.
QByteArray clave(const QString &medida, const QString &controlador);

// Appends one sample's line (with its '\n') after the key.
void escribir(QByteArray &salida, const QByteArray &clave, const Muestra &m);
// Appends a point's line (with its '\n').
void escribir(QByteArray &salida, const Punto &p);

// One line, or nullopt where it does not read as line protocol.
std::optional<Punto> leer(QByteArrayView linea);
// A sample from a point of measurement "velmora" of the given controller, or nullopt.
std::optional<Muestra> muestra(const Punto &p);

} // namespace lineaprotocolo
