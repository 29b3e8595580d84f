#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

// The date and time that opens every log record: the locale's short date with a four-digit
// year, a space, its time with seconds and without a zone name; with milliseconds, the
// seconds carry three decimals after the locale's decimal separator, so a spreadsheet in
// that language still reads a date and time. The text changes once a second, so it is built
// once per second and kept as bytes ready to write; the milliseconds go in between.
class FormatoFecha
{
public:
    explicit FormatoFecha(const QLocale &locale = QLocale());

    QString formato() const { return formato_; }
    QString formatoMilisegundos() const { return formatoMs_; }
    QString texto(const QDateTime &momento, bool milisegundos = false) const;

    // The text for a wall-clock time in milliseconds since the epoch, written at `p`;
    // returns its length.
    size_t escribir(int64_t msEpoca, bool milisegundos, char *p)
    {
        const int64_t segundo = msEpoca >= 0 ? msEpoca / 1000 : (msEpoca - 999) / 1000;
        if (segundo != segundoCache_)
            actualizar(segundo);
        if (!milisegundos) {
            std::memcpy(p, cache_.constData(), cache_.size());
            return size_t(cache_.size());
        }
        const int ms = int(msEpoca - segundo * 1000);
        std::memcpy(p, cabeza_.constData(), cabeza_.size());
        char *q = p + cabeza_.size();
        *q++ = char('0' + ms / 100);
        *q++ = char('0' + ms / 10 % 10);
        *q++ = char('0' + ms % 10);
        std::memcpy(q, cola_.constData(), cola_.size());
        return size_t(q - p) + size_t(cola_.size());
    }
    // The longest text `escribir` gives for the second last written.
    size_t maximo() const { return size_t(std::max(cache_.size(), cabeza_.size() + 3 + cola_.size())); }

private:
    void actualizar(int64_t segundoEpoca);

    QLocale locale_;
    QString formato_;
    QString formatoMs_;
    int64_t segundoCache_ = INT64_MIN;
    QByteArray cache_;
    QByteArray cabeza_, cola_; // around the milliseconds' digits
};
