#pragma once

#include <cstdint>

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

// The date and time that opens every log record: the locale's short date with a four-digit
// year, a space, its time with seconds and without a zone name. The text changes once a
// second, so it is built once per second and kept as bytes ready to write.
class FormatoFecha
{
public:
    explicit FormatoFecha(const QLocale &locale = QLocale());

    QString formato() const { return formato_; }
    QString texto(const QDateTime &momento) const;

    const QByteArray &bytes(int64_t segundoEpoca)
    {
        if (segundoEpoca != segundoCache_)
            actualizar(segundoEpoca);
        return cache_;
    }

private:
    void actualizar(int64_t segundoEpoca);

    QLocale locale_;
    QString formato_;
    int64_t segundoCache_ = INT64_MIN;
    QByteArray cache_;
};
