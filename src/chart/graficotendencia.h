#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <qcustomplot.h>

#include "chart/cursores.h"
#include "chart/escalay.h"

class VentanaMuestras;
class TickerY;

// The trend: the sample window's two series against the row number, oldest at the left.
// Drawing is coalesced: changes ask for a redraw, a timer draws at most once per interval.
class GraficoTendencia : public QCustomPlot
{
    Q_OBJECT
public:
    // Frames start this far apart while samples keep coming: a little over 20 a second.
    static constexpr int intervaloRedibujoMs = 48;

    GraficoTendencia(const VentanaMuestras &ventana, QWidget *parent = nullptr);

    const ValueScale &valueScale() const { return escala_; }
    void setAuto(bool automatica);
    void setMaximum(double maximo);
    void setMajorDivision(int16_t divisiones);

    // Asks for a frame within one interval; any number of calls before it make one frame.
    // No frames are drawn while the window is minimised; it is brought up to date when shown.
    void redibujarPronto();
    // Brings the series, the axis and whatever shows the same data up to date and draws now.
    void redibujar();

    // What the mark of a break near pixel column `x` says; empty where there is none.
    QString textoCorte(double x) const;

    // A faint note across the plot (empty: none), for what the data cannot show.
    void setNota(const QString &nota);
    const QString &nota() const { return nota_; }

    bool redibujoPendiente() const { return temporizador_.isActive(); }
    uint64_t redibujos() const { return redibujos_; }

    // Saves what is on show as a PNG at rutaPng(ruta), with a title line (the panel, where its
    // samples come from and when) and the axes' titles; returns an empty string or the reason
    // it failed.
    QString guardarImagen(const QString &ruta);
    QImage imagen(const QDateTime &cuando);
    static QString tituloImagen(const QString &origen, const QDateTime &cuando);
    static const QString tituloX, tituloY;
    // Where the samples come from (the port), for the picture's title.
    void setOrigen(const QString &origen) { origen_ = origen; }
    // The name with ".png" added where it has no such ending, so the picture opens anywhere.
    static QString rutaPng(const QString &ruta);

    // What «Registro con milisegundos» shows ticked.
    void setMilisegundos(bool si) { milisegundos_ = si; }

    // Cursors A and B over the rows on show (the right-click menu shows them); they stay on
    // their samples as the trend slides.
    Cursores &cursores() { return *cursores_; }
    std::optional<FigurasCursores> figurasCursores() const;
    QString textoCursores() const;
    // The line of figures drawn under the plot while the cursors show.
    QString lineaCursores() const;

signals:
    // Just before a redraw on request: what else shows the same data brings itself up to date.
    void antesDeRedibujar();
    // Just before a frame of the running trend, first: a source that holds data back (the
    // port while reading pauses) hands it over, so the frame and the read-outs show it.
    void pedirDatos();
    // Then: what else shows the same data may join the frame, so the window repaints once.
    void antesDeFotograma();
    // «Respuesta al escalón…» in the right-click menu.
    void pedirRespuestaEscalon();
    // «Registro con milisegundos» ticked or unticked, and «Abrir registro…».
    void cambiarMilisegundos(bool si);
    void pedirAbrirRegistro();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *objeto, QEvent *evento) override;

private:
    void fotograma();
    void dibujar();
    void guardarFondo();
    // Brings QCustomPlot's buffers to the window's pixel ratio; true if it changed.
    bool seguirEscalaPantalla();
    void calcularPuntos();
    bool oculto() const;
    void actualizarSeries();
    void aplicarEscala();
    void actualizarRangoAutomatico();
    // What the static layers (axes, grid, labels, legend) were last drawn for.
    struct Marco
    {
        QCPRange x, y;
        QSize tamano;
        double escala;
        uint64_t versionEscala;
        bool operator==(const Marco &) const = default;
    };
    Marco marcoActual() const;

    const VentanaMuestras &ventana_;
    ValueScale escala_;
    TickerY *ticker_ = nullptr; // owned by the shared pointer the axis holds
    QCPGraph *serieDato_ = nullptr;
    QCPGraph *serieSetPoint_ = nullptr;
    // QCustomPlot draws what changes only with the scale or the size (axes, grid, labels,
    // legend) and it is kept as one opaque picture; a frame copies the plot area from it and
    // draws the two polylines on top, straight onto the window.
    QImage fondo_;
    QString nota_;
    QString origen_;
    QVector<QPoint> puntosDato_;
    QVector<QPoint> puntosSetPoint_;
    // Where each stretch of each line ends: the set point's has gaps where none was known,
    // and both are cut at breaks (filasCorte_, the rows after them).
    QVector<qsizetype> tramosDato_;
    QVector<qsizetype> tramosSetPoint_;
    QVector<int> filasCorte_;
    Marco marcoDibujado_{};
    uint64_t versionEscala_ = 0;
    QTimer temporizador_;
    QElapsedTimer desdeFotograma_;
    bool pendienteAlMostrar_ = false;
    bool milisegundos_ = false;
    uint64_t cambiosDibujados_ = UINT64_MAX;
    uint64_t redibujos_ = 0;
    Cursores *cursores_ = nullptr;
};
