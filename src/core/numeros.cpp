#include "numeros.h"

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <QLocale>

namespace numeros {

std::optional<double> leerReal(const QString &texto)
{
    QLocale locale;
    // "1.000" must not quietly become a thousand in a locale whose decimal separator is ','.
    locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double valor = locale.toDouble(texto.trimmed(), &ok);
    if (!ok || !std::isfinite(valor))
        return std::nullopt;
    return valor;
}

std::optional<int16_t> redondearEntero(double valor)
{
    if (!std::isfinite(valor))
        return std::nullopt;
    // nearbyint follows the current rounding mode; the program never changes it from
    // round-to-nearest-even, which is the rule wanted here.
    const double entero = std::nearbyint(valor);
    if (entero < INT16_MIN || entero > INT16_MAX)
        return std::nullopt;
    return static_cast<int16_t>(entero);
}

std::optional<int16_t> leerEntero(const QString &texto)
{
    const auto valor = leerReal(texto);
    return valor ? redondearEntero(*valor) : std::nullopt;
}

QString textoReal(float valor)
{
    if (!std::isfinite(valor))
        return QString();
    // Seven significant digits: the mantissa's digits and the decimal exponent.
    char cifras[32];
    std::snprintf(cifras, sizeof cifras, "%.6e", static_cast<double>(valor));
    const bool negativo = cifras[0] == '-';
    const char *p = cifras + (negativo ? 1 : 0);
    QByteArray digitos;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digitos.append(*p);
    const int exponente = std::atoi(p + 1);
    while (digitos.size() > 1 && digitos.endsWith('0'))
        digitos.chop(1);
    if (digitos == "0")
        return QStringLiteral("0");

    // The digit string d1 d2 ... stands for d1.d2... x 10^exponente.
    QByteArray entera, fraccion;
    if (exponente < 0) {
        entera = "0";
        fraccion = QByteArray(-exponente - 1, '0') + digitos;
    } else if (exponente + 1 >= digitos.size()) {
        entera = digitos + QByteArray(exponente + 1 - digitos.size(), '0');
    } else {
        entera = digitos.left(exponente + 1);
        fraccion = digitos.mid(exponente + 1);
    }
    const QLocale locale;
    QString texto = negativo ? locale.negativeSign() : QString();
    texto += QString::fromLatin1(entera);
    if (!fraccion.isEmpty())
        texto += locale.decimalPoint() + QString::fromLatin1(fraccion);
    return texto;
}

int escribirEntero(int16_t valor, char *buf)
{
    int v = valor;
    int n = 0;
    if (v < 0) {
        buf[n++] = '-';
        v = -v;
    }
    char inverso[5];
    int k = 0;
    do {
        inverso[k++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (k)
        buf[n++] = inverso[--k];
    return n;
}

QString textoEntero(int16_t valor)
{
    char buf[8];
    return QString::fromLatin1(buf, escribirEntero(valor, buf));
}

} // namespace numeros
