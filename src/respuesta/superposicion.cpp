#include "superposicion.h"

#include <array>

#include <qcustomplot.h>

namespace superposicion {

Vista calcular(const QList<resultados::Escalon> &escalones, int etapa)
{
    Vista v;
    v.etapa = etapa;
    QList<const resultados::Escalon *> suyos;
    for (const resultados::Escalon &e : escalones)
        if (e.etapa == etapa)
            suyos << &e;
    for (const resultados::Escalon *e : suyos)
        v.desviacion = v.desviacion || e->figuras.desde != suyos.first()->figuras.desde;
    v.medidas = int(suyos.size());
    for (const resultados::Escalon *e : suyos) {
        if (e->tiempos.isEmpty())
            continue;
        const FigurasEscalon &f = e->figuras;
        Curva c;
        c.repeticion = e->repeticion;
        c.nivel = v.desviacion ? f.inicial : 0.0;
        c.t = e->tiempos;
        c.y.reserve(e->valores.size());
        for (double y : e->valores)
            c.y << y - c.nivel;
        if (f.modelo && !c.t.isEmpty()) {
            // Fine enough for the swing at any width, over the samples' own span.
            constexpr int puntos = 400;
            const double fin = std::max(c.t.last(), 1e-3);
            for (int i = 0; i <= puntos; ++i) {
                c.tModelo << fin * i / puntos;
                c.yModelo << f.modelo->valor(c.tModelo.last()) - c.nivel;
            }
        }
        v.curvas << c;
    }
    return v;
}

void dibujar(QCustomPlot &grafico, const Vista &v)
{
    static const std::array<QColor, 8> colores{
        QColor(31, 119, 180), QColor(214, 39, 40), QColor(44, 160, 44), QColor(148, 103, 189),
        QColor(255, 127, 14), QColor(23, 190, 207), QColor(140, 86, 75), QColor(227, 119, 194)};
    const auto color = [&](const Curva &c) { return colores[size_t(c.repeticion - 1) % colores.size()]; };
    grafico.clearGraphs();
    for (const Curva &c : v.curvas) {
        QCPGraph *datos = grafico.addGraph();
        datos->setName(QStringLiteral("Repetición %1").arg(c.repeticion));
        datos->setPen(QPen(color(c), 1));
        datos->setData(c.t, c.y, true);
    }
    // The models after all the samples, so the noise of a later repeat hides none of them.
    for (const Curva &c : v.curvas) {
        QCPGraph *modelo = grafico.addGraph();
        modelo->setName(QStringLiteral("Modelo, repetición %1").arg(c.repeticion));
        modelo->setPen(QPen(color(c).darker(130), 2, Qt::DashLine));
        modelo->setData(c.tModelo, c.yModelo, true);
        modelo->removeFromLegend();
    }
    // Each model once in the key would double it: one entry says what the dashes are.
    if (!v.curvas.isEmpty()) {
        QCPGraph *clave = grafico.addGraph();
        clave->setName(QStringLiteral("Modelo ajustado"));
        clave->setPen(QPen(Qt::gray, 1.5, Qt::DashLine));
    }
    grafico.yAxis->setLabel(v.desviacion ? QStringLiteral("cuentas desde el valor inicial")
                                         : QStringLiteral("cuentas"));
    grafico.rescaleAxes();
    grafico.yAxis->scaleRange(1.1);
    grafico.replot(QCustomPlot::rpQueuedReplot);
}

QString texto(const Vista &v, int setPoint)
{
    const QString etapa = QStringLiteral("Etapa %1 (Escalón %2)").arg(v.etapa).arg(setPoint);
    if (v.medidas == 0)
        return QStringLiteral("%1: ninguna repetición ha dado aún un escalón medido; no hay nada que superponer.").arg(etapa);
    if (v.curvas.size() < v.medidas)
        return QStringLiteral("%1: las últimas %2 de %3 repeticiones medidas, alineadas en su escalón%4.")
            .arg(etapa).arg(v.curvas.size()).arg(v.medidas)
            .arg(v.desviacion ? QStringLiteral(" y en su valor inicial, que no era el mismo") : QString());
    if (v.curvas.size() == 1)
        return QStringLiteral("%1: una sola repetición medida, sin otra con que compararla.").arg(etapa);
    return QStringLiteral("%1: %2 repeticiones alineadas en su escalón%3.")
        .arg(etapa).arg(v.curvas.size())
        .arg(v.desviacion ? QStringLiteral(" y en su valor inicial, que no era el mismo") : QString());
}

} // namespace superposicion
