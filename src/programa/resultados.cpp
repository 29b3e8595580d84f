#include "resultados.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <QLocale>
#include <QStringList>

namespace resultados {

namespace {

// Only final figures: a provisional one may still move, and would spoil the mean.
const Cifra tabla[] = {
    {"Subida (s)", [](const FigurasEscalon &f) { return f.subidaProvisional ? std::nullopt : f.subida; }, 3},
    {"Sobreimpulso (%)", [](const FigurasEscalon &f) { return f.picoProvisional ? std::nullopt : f.sobreimpulso; }, 1},
    {"Tiempo de pico (s)", [](const FigurasEscalon &f) { return f.tiempoPicoProvisional ? std::nullopt : f.tiempoPico; }, 3},
    {"Establecimiento (s)", [](const FigurasEscalon &f) { return f.establecimientoProvisional ? std::nullopt : f.establecimiento; }, 3},
    {"Valor final", [](const FigurasEscalon &f) { return f.finalProvisional ? std::nullopt : f.valorFinal; }, 1},
    {"Error", [](const FigurasEscalon &f) { return f.finalProvisional ? std::nullopt : f.error; }, 1},
};

QString numero(std::optional<double> v, int decimales)
{
    return v ? QLocale().toString(*v, 'f', decimales) : QString();
}

} // namespace

std::span<const Cifra> cifras() { return tabla; }

std::optional<Estadistica> estadistica(std::span<const double> valores)
{
    if (valores.empty())
        return std::nullopt;
    Estadistica e;
    e.n = int(valores.size());
    e.minimo = *std::min_element(valores.begin(), valores.end());
    e.maximo = *std::max_element(valores.begin(), valores.end());
    double suma = 0;
    for (double v : valores)
        suma += v;
    e.media = suma / e.n;
    if (e.n > 1) {
        // Two passes: the sum of squares about the mean, not the difference of two large sums.
        double cuadrados = 0;
        for (double v : valores)
            cuadrados += (v - e.media) * (v - e.media);
        e.desviacion = std::sqrt(cuadrados / (e.n - 1));
    }
    return e;
}

QString texto(const QList<Escalon> &escalones)
{
    QStringList lineas;
    QStringList cabecera{QStringLiteral("Repetición"), QStringLiteral("Etapa"),
                         QStringLiteral("Desde"), QStringLiteral("Set point")};
    for (const Cifra &c : tabla)
        cabecera << QString::fromUtf8(c.nombre);
    lineas << cabecera.join(u'\t');
    std::map<int, std::vector<const Escalon *>> porEtapa;
    for (const Escalon &e : escalones) {
        QStringList celdas{QString::number(e.repeticion), QString::number(e.etapa),
                           QString::number(e.figuras.desde), QString::number(e.figuras.hasta)};
        for (const Cifra &c : tabla)
            celdas << numero(c.valor(e.figuras), c.decimales);
        lineas << celdas.join(u'\t');
        porEtapa[e.etapa].push_back(&e);
    }
    lineas << QString();
    lineas << QStringList{QStringLiteral("Etapa"), QStringLiteral("Cifra"), QStringLiteral("n"),
                          QStringLiteral("Media"), QStringLiteral("Desviación"),
                          QStringLiteral("Mínimo"), QStringLiteral("Máximo")}
                  .join(u'\t');
    for (const auto &[etapa, filas] : porEtapa) {
        for (const Cifra &c : tabla) {
            std::vector<double> valores;
            for (const Escalon *e : filas)
                if (const auto v = c.valor(e->figuras))
                    valores.push_back(*v);
            const auto s = estadistica(valores);
            // One more decimal than the figure: the spread of five repeats is finer.
            const int d = c.decimales + 1;
            lineas << QStringList{QString::number(etapa), QString::fromUtf8(c.nombre),
                                  QString::number(s ? s->n : 0),
                                  numero(s ? std::optional(s->media) : std::nullopt, d),
                                  numero(s ? s->desviacion : std::nullopt, d),
                                  numero(s ? std::optional(s->minimo) : std::nullopt, d),
                                  numero(s ? std::optional(s->maximo) : std::nullopt, d)}
                          .join(u'\t');
        }
    }
    return lineas.join(u'\n') + u'\n';
}

} // namespace resultados
