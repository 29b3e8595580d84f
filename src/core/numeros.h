#pragma once

#include <cstdint>
#include <optional>

#include <QString>

// Reading and writing the numbers that the window's text boxes, read-outs and log carry.
// Reading goes through the default QLocale, so the user's decimal separator counts.
namespace numeros {

// A text read as a real number; nullopt when it cannot be read (empty, letters, inf, nan).
std::optional<double> leerReal(const QString &texto);

// A real rounded to the nearest whole number, halves to the even neighbour, within the
// 16-bit range; nullopt when it falls outside.
std::optional<int16_t> redondearEntero(double valor);

// A text read as a whole number: leerReal then redondearEntero.
std::optional<int16_t> leerEntero(const QString &texto);

// At most seven significant digits, no exponent, trailing zeros dropped, the locale's
// decimal separator, no thousands separator.
QString textoReal(float valor);

// Plain decimal digits with a leading '-' for negative values; writes into buf without
// allocating and returns the number of chars written (at most 6).
int escribirEntero(int16_t valor, char *buf);

QString textoEntero(int16_t valor);

} // namespace numeros
