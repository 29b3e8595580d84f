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

// The seconds followed by `tras` (quoted) and the fields `campos`, as a spreadsheet reads a
// fraction of a second.
QString conFraccion(const QString &formato, const QString &tras, const QString &campos = {})
{
    QString citado = tras;
    citado.replace(u'\'', QStringLiteral("''"));
    bool hecho = false;
    return reescribir(formato, [&](QChar c, const QString &run) -> QString {
        if (c != u's' || hecho)
            return run;
        hecho = true;
        return run + u'\'' + citado + u'\'' + campos;
    });
}

// Stands for the milliseconds' digits in the text cached for a second.
constexpr char16_t marca = u'\x01';

} // namespace

FormatoFecha::FormatoFecha(const QLocale &locale)
    : locale_(locale),
      formato_(fechaConAnioCompleto(locale.dateFormat(QLocale::ShortFormat)) + u' '
               + horaSinZona(locale.timeFormat(QLocale::LongFormat))),
      formatoMs_(conFraccion(formato_, locale.decimalPoint(), QStringLiteral("zzz")))
{
}

QString FormatoFecha::texto(const QDateTime &momento, bool milisegundos) const
{
    return locale_.toString(momento, milisegundos ? formatoMs_ : formato_);
}

void FormatoFecha::actualizar(int64_t segundoEpoca)
{
    segundoCache_ = segundoEpoca;
    const QDateTime momento = QDateTime::fromSecsSinceEpoch(segundoEpoca);
    cache_ = texto(momento).toUtf8();
    const QString partido =
        locale_.toString(momento, conFraccion(formato_, locale_.decimalPoint() + marca));
    const qsizetype en = partido.indexOf(marca);
    cabeza_ = partido.left(en).toUtf8();
    cola_ = partido.mid(en + 1).toUtf8();
}
