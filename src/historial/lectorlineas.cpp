#include "lectorlineas.h"

#include <cstdlib>

#include <QDateTime>

#include "log/formatofecha.h"

namespace {

// Up to `maximo` digits; false where there is none.
bool numero(const char *&p, const char *fin, int maximo, int &valor)
{
    const char *inicio = p;
    valor = 0;
    while (p < fin && p - inicio < maximo && *p >= '0' && *p <= '9')
        valor = valor * 10 + (*p++ - '0');
    return p > inicio;
}

bool empieza(const char *&p, const char *fin, const std::string &texto, bool sinMayusculas)
{
    if (size_t(fin - p) < texto.size())
        return false;
    for (size_t i = 0; i < texto.size(); ++i) {
        char a = p[i], b = texto[i];
        if (sinMayusculas && a >= 'a' && a <= 'z')
            a = char(a - 'a' + 'A');
        if (sinMayusculas && b >= 'a' && b <= 'z')
            b = char(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    p += texto.size();
    return true;
}

// A set point or a value: 0 to 254, as the controller sends them.
bool cuenta(const char *&p, const char *fin, uint8_t &valor)
{
    int v;
    if (!numero(p, fin, 3, v) || v > 254 || (p < fin && *p >= '0' && *p <= '9'))
        return false;
    valor = uint8_t(v);
    return true;
}

} // namespace

LectorLineas::LectorLineas(const QLocale &locale)
    : decimal_(locale.decimalPoint().toStdString()),
      am_(locale.amText().toStdString()),
      pm_(locale.pmText().toStdString())
{
    // The same format the log is written with, field by field.
    const QString formato = FormatoFecha(locale).formato();
    for (qsizetype i = 0; i < formato.size();) {
        const QChar c = formato.at(i);
        if (c == u'\'') {
            qsizetype fin = formato.indexOf(u'\'', i + 1);
            fin = fin < 0 ? formato.size() : fin;
            const QString citado = formato.mid(i + 1, fin - i - 1);
            campos_.push_back({Tipo::texto, (citado.isEmpty() ? QStringLiteral("'") : citado)
                                                .toStdString()});
            i = fin + 1;
            continue;
        }
        qsizetype j = i;
        while (j < formato.size() && formato.at(j) == c)
            ++j;
        const QString run = formato.mid(i, j - i);
        i = j;
        Tipo tipo = Tipo::texto;
        switch (c.unicode()) {
        case u'd': tipo = Tipo::dia; break;
        case u'M': tipo = run.size() >= 3 ? Tipo::nombreMes : Tipo::mes; break;
        case u'y': tipo = Tipo::anio; break;
        case u'H': tipo = Tipo::hora24; break;
        case u'h': tipo = Tipo::hora12; break;
        case u'm': tipo = Tipo::minuto; break;
        case u's': tipo = Tipo::segundo; break;
        case u'A': case u'a': tipo = Tipo::ampm; break;
        case u'P': case u'p': continue; // the rest of "AP"
        default: break;
        }
        campos_.push_back({tipo, tipo == Tipo::texto ? run.toStdString() : std::string()});
        if (tipo == Tipo::nombreMes)
            for (int mes = 1; mes <= 12; ++mes)
                meses_.push_back(locale.monthName(mes, run.size() == 3 ? QLocale::ShortFormat
                                                                       : QLocale::LongFormat)
                                     .toStdString());
    }
}

std::vector<QLocale> LectorLineas::candidatos()
{
    // Where both read a line (8/12 as a day or a month), the order decides until a day above
    // 12 settles it.
    const auto diaPrimero = [](const QLocale &l) {
        const QString f = l.dateFormat(QLocale::ShortFormat);
        return f.indexOf(u'd') < f.indexOf(u'M');
    };
    std::vector<QLocale> lista{QLocale()};
    std::vector<QLocale> resto;
    for (const char *nombre : {"es_ES", "en_US", "en_GB", "en_AU", "en_IN", "de_DE", "fr_FR",
                               "pt_BR", "es_MX"}) {
        const QLocale l{QLatin1String(nombre)};
        if (l == QLocale())
            continue;
        (diaPrimero(l) == diaPrimero(QLocale()) ? lista : resto).push_back(l);
    }
    lista.insert(lista.end(), resto.begin(), resto.end());
    return lista;
}

int64_t LectorLineas::msHora(int anio, int mes, int dia, int hora)
{
    const int64_t clave = ((int64_t(anio) * 100 + mes) * 100 + dia) * 100 + hora;
    if (clave != claveHora_) {
        claveHora_ = clave;
        const QDateTime inicio(QDate(anio, mes, dia), QTime(hora, 0));
        claveValida_ = inicio.isValid();
        msClave_ = claveValida_ ? inicio.toMSecsSinceEpoch() : 0;
        repetidaClave_ = 0;
        if (claveValida_) {
            // The clocks went back across this hour if the zone's offset changes near it and
            // the same hour reads at one offset's distance from the instant Qt chose.
            const qint64 antes = QDateTime::fromMSecsSinceEpoch(msClave_ - 6 * 3600000).offsetFromUtc();
            const qint64 despues = QDateTime::fromMSecsSinceEpoch(msClave_ + 6 * 3600000).offsetFromUtc();
            const int64_t salto = std::abs(antes - despues) * 1000;
            const auto mismaHora = [&](int64_t ms) {
                const QDateTime d = QDateTime::fromMSecsSinceEpoch(ms);
                return d.date() == inicio.date() && d.time().hour() == hora;
            };
            if (salto > 0 && mismaHora(msClave_ - salto)) {
                msClave_ -= salto;
                repetidaClave_ = int32_t(salto);
            } else if (salto > 0 && mismaHora(msClave_ + salto)) {
                repetidaClave_ = int32_t(salto);
            }
        }
    }
    return claveValida_ ? msClave_ : INT64_MIN;
}

bool LectorLineas::leerFecha(const char *&p, const char *fin, Muestra &m)
{
    int dia = -1, mes = -1, anio = -1, hora = -1, minuto = -1, segundo = -1, ms = 0;
    int tarde = -1; // AM 0, PM 1
    for (const Campo &c : campos_) {
        switch (c.tipo) {
        case Tipo::texto:
            if (!empieza(p, fin, c.texto, false))
                return false;
            break;
        case Tipo::ampm:
            if (empieza(p, fin, am_, true))
                tarde = 0;
            else if (empieza(p, fin, pm_, true))
                tarde = 1;
            else
                return false;
            break;
        case Tipo::nombreMes:
            for (size_t i = 0; i < meses_.size() && mes < 0; ++i)
                if (empieza(p, fin, meses_[i], true))
                    mes = int(i) + 1;
            if (mes < 0)
                return false;
            break;
        case Tipo::segundo:
            if (!numero(p, fin, 2, segundo))
                return false;
            if (empieza(p, fin, decimal_, false)) {
                const char *cifras = p;
                if (!numero(p, fin, 3, ms) || p - cifras != 3)
                    return false;
                m.conMs = true;
            }
            break;
        default: {
            int v;
            if (!numero(p, fin, c.tipo == Tipo::anio ? 4 : 2, v))
                return false;
            (c.tipo == Tipo::dia ? dia : c.tipo == Tipo::mes ? mes : c.tipo == Tipo::anio ? anio
             : c.tipo == Tipo::minuto                                ? minuto
                                                                     : hora) = v;
        }
        }
    }
    if (tarde >= 0) {
        if (hora < 1 || hora > 12)
            return false;
        hora = hora % 12 + 12 * tarde;
    }
    if (hora < 0 || hora > 23 || minuto < 0 || minuto > 59 || segundo < 0 || segundo > 59
        || !QDate::isValid(anio, mes, dia))
        return false;
    const int64_t base = msHora(anio, mes, dia, hora);
    if (base == INT64_MIN)
        return false;
    m.ms = base + minuto * 60000 + segundo * 1000 + ms;
    m.repetida = repetidaClave_;
    return true;
}

std::optional<LectorLineas::Muestra> LectorLineas::leer(const char *linea, size_t n)
{
    const char *p = linea;
    const char *fin = linea + n;
    if (fin > p && fin[-1] == '\r')
        --fin;
    Muestra m;
    if (!leerFecha(p, fin, m) || p == fin || *p++ != '\t')
        return std::nullopt;
    if (p < fin && *p != '\t' && !cuenta(p, fin, m.setPoint))
        return std::nullopt;
    if (p == fin || *p++ != '\t' || !cuenta(p, fin, m.valor) || p != fin)
        return std::nullopt;
    return m;
}
