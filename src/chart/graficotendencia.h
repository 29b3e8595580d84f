#pragma once

#include <QTimer>

#include <qcustomplot.h>

#include "chart/escalay.h"

class VentanaMuestras;
class TickerY;

// The trend: the sample window's two series against the row number, oldest at the left.
// Drawing is coalesced: changes ask for a redraw, a timer draws at most once per interval.
class GraficoTendencia : public QCustomPlot
{
    Q_OBJECT
public:
    static constexpr int intervaloRedibujoMs = 50;

    GraficoTendencia(const VentanaMuestras &ventana, QWidget *parent = nullptr);

    const ValueScale &valueScale() const { return escala_; }
    void setAuto(bool automatica);
    void setMaximum(double maximo);
    void setMajorDivision(int16_t divisiones);

    // Asks for a redraw within one interval; any number of calls before it make one redraw.
    void redibujarPronto();
    // Brings the series and the axis up to date and draws now.
    void redibujar();

    bool redibujoPendiente() const { return temporizador_.isActive(); }
    uint64_t redibujos() const { return redibujos_; }

    // Saves what is on show as a PNG at rutaPng(ruta); returns an empty string or the reason
    // it failed.
    QString guardarImagen(const QString &ruta);
    // The name with ".png" added where it has no such ending, so the picture opens anywhere.
    static QString rutaPng(const QString &ruta);

signals:
    // Just before a redraw: what else shows the same data can bring itself up to date.
    void antesDeRedibujar();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void actualizarSeries();
    void aplicarEscala();
    void actualizarRangoAutomatico();
    // What the static layers (axes, grid, labels, legend) were last drawn for.
    struct Marco
    {
        QCPRange x, y;
        QSize tamano;
        uint64_t versionEscala;
        bool operator==(const Marco &) const = default;
    };
    Marco marcoActual() const;

    const VentanaMuestras &ventana_;
    ValueScale escala_;
    TickerY *ticker_ = nullptr; // owned by the shared pointer the axis holds
    QCPGraph *serieDato_ = nullptr;
    QCPGraph *serieSetPoint_ = nullptr;
    QCPLayer *capaSeries_ = nullptr; // its own paint buffer: new data redraws only this
    Marco marcoDibujado_{};
    uint64_t versionEscala_ = 0;
    QTimer temporizador_;
    uint64_t cambiosDibujados_ = UINT64_MAX;
    uint64_t redibujos_ = 0;
};
