#include "formatofecha.h"

namespace {

// Walks a QLocale format string field by field, quoted text untouched, and lets `campo`
// rewrite each run of one letter.
template <typename F>
QString reescribir(const QString &formato, F campo)
{
    QString salida;
    for (qsizetype i = 0; i < formato.size();) {
        const QChar c = formato.at(i);
        if (c == u'\'') {
            const qsizetype fin = formato.indexOf(u'\'', i + 1);
            const qsizetype hasta = fin < 0 ? formato.size() : fin + 1;
            salida += formato.mid(i, hasta - i);
            i = hasta;
            continue;
        }
        qsizetype j = i;
        while (j < formato.size() && formato.at(j) == c)
            ++j;
        salida += c.isLetter() ? campo(c, formato.mid(i, j - i)) : formato.mid(i, j - i);
        i = j;
    }
    return salida;
}

QString fechaConAnioCompleto(const QString &formato)
{
    // A two-digit year makes spreadsheets guess the century.
    return reescribir(formato, [](QChar c, const QString &run) {
        return c == u'y' ? QStringLiteral("yyyy") : run;
    });
}

QString horaSinZona(const QString &formato)
{
    QString hora = reescribir(formato, [](QChar c, const QString &run) {
        return c == u't' ? QString() : run;
    });
    hora.remove(QStringLiteral("()"));
    return hora.simplified();
}

} // namespace

FormatoFecha::FormatoFecha(const QLocale &locale)
    : locale_(locale),
      formato_(fechaConAnioCompleto(locale.dateFormat(QLocale::ShortFormat)) + u' '
               + horaSinZona(locale.timeFormat(QLocale::LongFormat)))
{
}

QString FormatoFecha::texto(const QDateTime &momento) const
{
    return locale_.toString(momento, formato_);
}

void FormatoFecha::actualizar(int64_t segundoEpoca)
{
    segundoCache_ = segundoEpoca;
    cache_ = texto(QDateTime::fromSecsSinceEpoch(segundoEpoca)).toUtf8();
}
