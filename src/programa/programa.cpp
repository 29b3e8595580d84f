#include "programa.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

namespace programa {

namespace {

// Keywords are read whatever their case and accents: «Escalón», «escalon», «LÍMITE».
QString normalizar(const QString &texto)
{
    QString sinAcentos;
    for (const QChar c : texto.normalized(QString::NormalizationForm_D))
        if (c.category() != QChar::Mark_NonSpacing)
            sinAcentos += c;
    return sinAcentos.toLower();
}

std::optional<int> entero(const QString &t, int minimo, int maximo)
{
    static const QRegularExpression digitos(QStringLiteral("^\\d{1,9}$"));
    if (!digitos.match(t).hasMatch())
        return std::nullopt;
    const int v = t.toInt();
    if (v < minimo || v > maximo)
        return std::nullopt;
    return v;
}

// Whole milliseconds, so a program written and read again is the same program.
std::optional<int64_t> segundos(QStringList &tokens)
{
    if (tokens.isEmpty())
        return std::nullopt;
    QString t = tokens.takeFirst();
    if (t.endsWith(u's') && t.size() > 1)
        t.chop(1);
    else if (!tokens.isEmpty() && tokens.first() == QStringLiteral("s"))
        tokens.removeFirst();
    static const QRegularExpression numero(QStringLiteral("^(\\d{1,9})(?:[.,](\\d{1,3}))?$"));
    const auto m = numero.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const int64_t ms = m.captured(1).toLongLong() * 1000
                       + m.captured(2).leftJustified(3, u'0').toLongLong();
    if (ms <= 0 || ms > Programa::maximoMs)
        return std::nullopt;
    return ms;
}

struct Ajuste
{
    const char *clave; // normalized
    const char *nombre;
};
const Ajuste ajustes[] = {
    {"repetir", "Repetir"},
    {"limite superior", "Límite superior"},
    {"limite inferior", "Límite inferior"},
    {"set point seguro", "Set point seguro"},
    {"muestras fuera", "Muestras fuera"},
};

} // namespace

QString nombre(Etapa::Tipo tipo)
{
    switch (tipo) {
    case Etapa::Tipo::escalon: return QStringLiteral("Escalón");
    case Etapa::Tipo::rampa: return QStringLiteral("Rampa");
    case Etapa::Tipo::mantener: return QStringLiteral("Mantener");
    }
    return {};
}

QString textoSegundos(int64_t ms)
{
    QString t = QString::number(ms / 1000);
    if (const int64_t resto = ms % 1000) {
        QString fraccion = QStringLiteral("%1").arg(resto, 3, 10, QLatin1Char('0'));
        while (fraccion.endsWith(u'0'))
            fraccion.chop(1);
        t += u'.' + fraccion;
    }
    return t;
}

Lectura leer(const QString &texto)
{
    Lectura l;
    Programa p;
    int lineaAjuste[std::size(ajustes)] = {};
    int lineaLimite = 0;
    const QStringList lineas = texto.split(u'\n');
    for (qsizetype i = 0; i < lineas.size(); ++i) {
        const int n = int(i + 1);
        const auto error = [&](const QString &m) {
            l.errores << QStringLiteral("Línea %1: %2").arg(n).arg(m);
        };
        QString linea = lineas[i];
        if (const qsizetype almohadilla = linea.indexOf(u'#'); almohadilla >= 0)
            linea.truncate(almohadilla);
        QStringList tokens = normalizar(linea).split(QRegularExpression(QStringLiteral("\\s+")),
                                                     Qt::SkipEmptyParts);
        if (tokens.isEmpty())
            continue;
        const QString original = linea.trimmed();
        const QString clave = tokens.first();
        if (clave == QStringLiteral("escalon") || clave == QStringLiteral("rampa")) {
            const Etapa::Tipo tipo =
                clave == QStringLiteral("rampa") ? Etapa::Tipo::rampa : Etapa::Tipo::escalon;
            const QString ejemplo = QStringLiteral("«%1 50 10 s»").arg(nombre(tipo));
            tokens.removeFirst();
            if (tokens.size() < 2) {
                error(QStringLiteral("«%1» lleva un set point y un tiempo en segundos, como %2")
                          .arg(nombre(tipo), ejemplo));
                continue;
            }
            const auto sp = entero(tokens.takeFirst(), 0, Programa::maximoSetPoint);
            if (!sp) {
                error(QStringLiteral("el set point de «%1» debe ser un número entero de 0 a %2 "
                                     "(«%3»)").arg(nombre(tipo)).arg(Programa::maximoSetPoint)
                          .arg(original));
                continue;
            }
            const auto ms = segundos(tokens);
            if (!ms || !tokens.isEmpty()) {
                error(QStringLiteral("el tiempo de «%1» debe ser un número de segundos mayor que 0, "
                                     "con hasta tres decimales, como %2 («%3»)")
                          .arg(nombre(tipo), ejemplo, original));
                continue;
            }
            p.etapas.append(Etapa{tipo, *sp, *ms});
        } else if (clave == QStringLiteral("mantener")) {
            tokens.removeFirst();
            const auto ms = segundos(tokens);
            if (!ms || !tokens.isEmpty()) {
                error(QStringLiteral("«Mantener» lleva un tiempo en segundos mayor que 0, con "
                                     "hasta tres decimales, como «Mantener 30 s» («%1»)")
                          .arg(original));
                continue;
            }
            p.etapas.append(Etapa{Etapa::Tipo::mantener, 0, *ms});
        } else {
            const QString junto = tokens.join(u' ');
            size_t a = 0;
            while (a < std::size(ajustes)
                   && !(junto.startsWith(QLatin1String(ajustes[a].clave))
                        && (junto.size() == qsizetype(qstrlen(ajustes[a].clave))
                            || junto[qstrlen(ajustes[a].clave)] == u' ')))
                ++a;
            if (a == std::size(ajustes)) {
                error(QStringLiteral("no se entiende «%1»: una línea empieza por Escalón, Rampa, "
                                     "Mantener, Repetir, Límite superior, Límite inferior, "
                                     "Set point seguro o Muestras fuera").arg(original));
                continue;
            }
            const QString nombreAjuste = QString::fromUtf8(ajustes[a].nombre);
            if (lineaAjuste[a]) {
                error(QStringLiteral("«%1» ya se dio en la línea %2").arg(nombreAjuste)
                          .arg(lineaAjuste[a]));
                continue;
            }
            const QString valor = junto.mid(qsizetype(qstrlen(ajustes[a].clave))).trimmed();
            // Counts from 1; values on the controller's scale; the safe set point within what
            // the controller takes, so it is sent as written.
            const int minimo = a == 0 || a == 4 ? 1 : 0;
            const int maximo = a == 0 ? Programa::maximoRepeticiones
                               : a == 4 ? 1000
                               : a == 3 ? 100
                                        : 254;
            const auto v = entero(valor, minimo, maximo);
            if (!v) {
                error(QStringLiteral("«%1» lleva un número entero de %2 a %3 («%4»)")
                          .arg(nombreAjuste).arg(minimo).arg(maximo).arg(original));
                continue;
            }
            lineaAjuste[a] = n;
            switch (a) {
            case 0: p.repeticiones = *v; break;
            case 1: p.limiteSuperior = *v; lineaLimite = n; break;
            case 2: p.limiteInferior = *v; lineaLimite = std::max(lineaLimite, n); break;
            case 3: p.setPointSeguro = *v; break;
            default: p.muestrasFuera = *v; break;
            }
        }
        if (p.etapas.size() > Programa::maximoEtapas) {
            error(QStringLiteral("un programa tiene como mucho %1 etapas").arg(Programa::maximoEtapas));
            p.etapas.removeLast();
        }
    }
    if (p.limiteSuperior && p.limiteInferior && *p.limiteInferior >= *p.limiteSuperior)
        l.errores << QStringLiteral("Línea %1: el límite inferior (%2) debe quedar por debajo del "
                                    "superior (%3)")
                         .arg(lineaLimite).arg(*p.limiteInferior).arg(*p.limiteSuperior);
    // A limit with nothing to send when it is passed would stop the program and leave the
    // loop where it was going.
    if ((p.limiteSuperior || p.limiteInferior) && !p.setPointSeguro)
        l.errores << QStringLiteral("Línea %1: con un límite hace falta «Set point seguro», el "
                                    "que se envía al pasarlo").arg(lineaLimite);
    if (p.etapas.isEmpty() && l.errores.isEmpty())
        l.errores << QStringLiteral("El programa no tiene etapas: escriba al menos una línea "
                                    "Escalón, Rampa o Mantener");
    if (l.errores.isEmpty())
        l.programa = p;
    return l;
}

QString escribir(const Programa &p)
{
    QString t = QStringLiteral("# Programa de set point de Velmora: una etapa por línea\n");
    t += QStringLiteral("Repetir %1\n").arg(p.repeticiones);
    if (p.limiteSuperior)
        t += QStringLiteral("Límite superior %1\n").arg(*p.limiteSuperior);
    if (p.limiteInferior)
        t += QStringLiteral("Límite inferior %1\n").arg(*p.limiteInferior);
    if (p.setPointSeguro)
        t += QStringLiteral("Set point seguro %1\n").arg(*p.setPointSeguro);
    if (p.muestrasFuera != Programa::muestrasFueraPorDefecto)
        t += QStringLiteral("Muestras fuera %1\n").arg(p.muestrasFuera);
    for (const Etapa &e : p.etapas) {
        t += nombre(e.tipo);
        if (e.tipo != Etapa::Tipo::mantener)
            t += QStringLiteral(" %1").arg(e.setPoint);
        t += QStringLiteral(" %1 s\n").arg(textoSegundos(e.ms));
    }
    return t;
}

Lectura leerArchivo(const QString &ruta)
{
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly))
        return {std::nullopt, {QStringLiteral("No se puede abrir «%1»: %2").arg(ruta, f.errorString())}};
    // A program is a few lines; a large file is something else picked by mistake.
    constexpr qint64 maximo = 1 << 20;
    const QByteArray datos = f.read(maximo + 1);
    if (datos.size() > maximo)
        return {std::nullopt, {QStringLiteral("«%1» no es un programa: pasa de 1 MiB").arg(ruta)}};
    QString texto = QString::fromUtf8(datos);
    texto.remove(u'\r');
    return leer(texto);
}

bool guardarArchivo(const QString &ruta, const Programa &p, QString *motivo)
{
    QSaveFile f(ruta);
    if (!f.open(QIODevice::WriteOnly) || f.write(escribir(p).toUtf8()) < 0 || !f.commit()) {
        if (motivo)
            *motivo = f.errorString();
        return false;
    }
    return true;
}

} // namespace programa
