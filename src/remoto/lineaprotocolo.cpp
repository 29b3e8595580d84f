#include "lineaprotocolo.h"

#include <charconv>
#include <cstring>
#include <cmath>

namespace lineaprotocolo {

namespace {

QByteArray escapar(const QString &texto, const char *especiales)
{
    const QByteArray utf8 = texto.toUtf8();
    QByteArray salida;
    salida.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        if (c == '\\' || std::strchr(especiales, c))
            salida.append('\\');
        salida.append(c);
    }
    return salida;
}

// Reads from `p` up to an unescaped character of `fin` (or the end), undoing the escapes of
// `especiales` and of the backslash; a backslash before anything else stays as written.
QString hasta(const char *&p, const char *final, const char *fin, const char *especiales)
{
    QByteArray salida;
    while (p < final && !std::strchr(fin, *p)) {
        if (*p == '\\' && p + 1 < final && (p[1] == '\\' || std::strchr(especiales, p[1]))) {
            salida.append(p[1]);
            p += 2;
            continue;
        }
        salida.append(*p++);
    }
    return QString::fromUtf8(salida);
}

std::optional<int64_t> entero(QByteArrayView texto)
{
    int64_t v = 0;
    const auto [fin, error] = std::from_chars(texto.begin(), texto.end(), v);
    if (error != std::errc() || fin != texto.end())
        return std::nullopt;
    return v;
}

std::optional<Valor> valor(QByteArrayView texto)
{
    Valor v;
    if (texto.isEmpty())
        return std::nullopt;
    if (texto.endsWith('i')) {
        const auto n = entero(texto.chopped(1));
        if (!n)
            return std::nullopt;
        v.tipo = Valor::Tipo::entero;
        v.entero = *n;
        return v;
    }
    for (const char *verdad : {"t", "T", "true", "True", "TRUE"})
        if (texto == QByteArrayView(verdad)) {
            v.tipo = Valor::Tipo::booleano;
            v.booleano = true;
            return v;
        }
    for (const char *falso : {"f", "F", "false", "False", "FALSE"})
        if (texto == QByteArrayView(falso)) {
            v.tipo = Valor::Tipo::booleano;
            return v;
        }
    bool ok = false;
    v.tipo = Valor::Tipo::real;
    v.real = texto.toByteArray().toDouble(&ok);
    if (!ok || !std::isfinite(v.real))
        return std::nullopt;
    return v;
}

void escribirEntero(QByteArray &salida, int64_t v)
{
    char cifras[24];
    const auto r = std::to_chars(cifras, cifras + sizeof cifras, v);
    salida.append(cifras, r.ptr - cifras);
}

} // namespace

const Valor *Punto::campo(const QString &clave) const
{
    for (const auto &[k, v] : campos)
        if (k == clave)
            return &v;
    return nullptr;
}

QString Punto::etiqueta(const QString &clave) const
{
    for (const auto &[k, v] : etiquetas)
        if (k == clave)
            return v;
    return QString();
}

QByteArray escaparMedida(const QString &texto) { return escapar(texto, ", "); }
QByteArray escaparClave(const QString &texto) { return escapar(texto, ",= "); }
QByteArray escaparTexto(const QString &texto) { return escapar(texto, "\""); }

std::optional<QString> nombreInvalido(const QString &nombre)
{
    if (nombre.isEmpty())
        return QStringLiteral("el nombre está vacío");
    for (const QChar c : nombre) {
        if (c == u'/' || c == u'+' || c == u'#')
            return QStringLiteral("el nombre no puede llevar «/», «+» ni «#»");
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("el nombre no puede llevar caracteres de control");
    }
    return std::nullopt;
}

QByteArray clave(const QString &medida, const QString &controlador)
{
    return escaparMedida(medida) + ",controlador=" + escaparClave(controlador);
}

void escribir(QByteArray &salida, const QByteArray &clave, const Muestra &m)
{
    salida.append(clave);
    salida.append(" valor=");
    escribirEntero(salida, m.valor);
    salida.append('i');
    if (m.consigna) {
        salida.append(",consigna=");
        escribirEntero(salida, *m.consigna);
        salida.append('i');
    }
    salida.append(",seq=");
    escribirEntero(salida, m.seq);
    salida.append("i ");
    escribirEntero(salida, m.msEpoca * 1'000'000);
    salida.append('\n');
}

void escribir(QByteArray &salida, const Punto &p)
{
    salida.append(escaparMedida(p.medida));
    for (const auto &[k, v] : p.etiquetas)
        salida.append(',' + escaparClave(k) + '=' + escaparClave(v));
    char separador = ' ';
    for (const auto &[k, v] : p.campos) {
        salida.append(separador);
        separador = ',';
        salida.append(escaparClave(k) + '=');
        switch (v.tipo) {
        case Valor::Tipo::entero:
            escribirEntero(salida, v.entero);
            salida.append('i');
            break;
        case Valor::Tipo::real:
            salida.append(QByteArray::number(v.real, 'g', 17));
            break;
        case Valor::Tipo::booleano:
            salida.append(v.booleano ? "true" : "false");
            break;
        case Valor::Tipo::texto:
            salida.append('"' + escaparTexto(v.texto) + '"');
            break;
        }
    }
    if (p.ns) {
        salida.append(' ');
        escribirEntero(salida, *p.ns);
    }
    salida.append('\n');
}

std::optional<Punto> leer(QByteArrayView linea)
{
    while (!linea.isEmpty() && (linea.back() == '\n' || linea.back() == '\r'))
        linea.chop(1);
    const char *p = linea.begin();
    const char *final = linea.end();
    Punto punto;
    punto.medida = hasta(p, final, ", ", ", ");
    if (punto.medida.isEmpty())
        return std::nullopt;
    while (p < final && *p == ',') {
        ++p;
        QString k = hasta(p, final, "=, ", ",= ");
        if (p >= final || *p != '=' || k.isEmpty())
            return std::nullopt;
        ++p;
        QString v = hasta(p, final, ", ", ",= ");
        if (v.isEmpty())
            return std::nullopt;
        punto.etiquetas.emplace_back(std::move(k), std::move(v));
    }
    if (p >= final || *p != ' ')
        return std::nullopt;
    ++p;
    do {
        QString k = hasta(p, final, "=, ", ",= ");
        if (p >= final || *p != '=' || k.isEmpty())
            return std::nullopt;
        ++p;
        Valor v;
        if (p < final && *p == '"') {
            ++p;
            v.tipo = Valor::Tipo::texto;
            v.texto = hasta(p, final, "\"", "\"");
            if (p >= final)
                return std::nullopt; // the quote never closes
            ++p;
        } else {
            const char *inicio = p;
            while (p < final && *p != ',' && *p != ' ')
                ++p;
            const auto leido = valor(QByteArrayView(inicio, p));
            if (!leido)
                return std::nullopt;
            v = *leido;
        }
        punto.campos.emplace_back(std::move(k), std::move(v));
    } while (p < final && *p == ',' && ++p);
    if (p < final) {
        if (*p != ' ')
            return std::nullopt;
        const auto ns = entero(QByteArrayView(p + 1, final));
        if (!ns)
            return std::nullopt;
        punto.ns = *ns;
    }
    return punto;
}

std::optional<Muestra> muestra(const Punto &p)
{
    if (p.medida != QLatin1String(medidaMuestras) || !p.ns)
        return std::nullopt;
    const Valor *valor = p.campo(QStringLiteral("valor"));
    const Valor *seq = p.campo(QStringLiteral("seq"));
    const Valor *consigna = p.campo(QStringLiteral("consigna"));
    const auto byte = [](const Valor *v) {
        return v && v->tipo == Valor::Tipo::entero && v->entero >= 0 && v->entero <= 255;
    };
    if (!byte(valor) || valor->entero == 255 || !seq || seq->tipo != Valor::Tipo::entero
        || (consigna && !byte(consigna)))
        return std::nullopt;
    Muestra m;
    m.seq = seq->entero;
    m.msEpoca = *p.ns / 1'000'000;
    m.valor = uint8_t(valor->entero);
    if (consigna)
        m.consigna = uint8_t(consigna->entero);
    return m;
}

} // namespace lineaprotocolo
