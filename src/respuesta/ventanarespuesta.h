#pragma once

#include <chrono>

#include <QTimer>
#include <QWidget>

#include "escalon/respuestaescalon.h"

class Ejecutor;
class QComboBox;
class QCustomPlot;
class QLabel;
class QStackedWidget;
class QTabWidget;
class QTableWidget;

// «Respuesta al escalón»: the current step drawn with the levels its figures come from, its
// figures, and the last steps as a table, brought up to date at the read-outs' pace while on
// show. Not modal: the panel keeps running.
class VentanaRespuesta : public QWidget
{
    Q_OBJECT
public:
    VentanaRespuesta(const RespuestaEscalon &respuesta, QWidget *parent);

    void actualizar();
    // The table as tab-separated text, headings first, an undefined figure an empty cell:
    // what «Copiar» puts on the clipboard.
    QString textoTabla() const;
    void copiar() const;

    // Says whose steps these are (a port, a log file) in the title.
    void setOrigen(const QString &origen);

    // The program runs whose stages' repeats can be drawn over one another.
    void setEjecutor(const Ejecutor &ejecutor);
    // The repeats of «Escalón» stage `etapa` (from 1) on one plot, and their figures; 0: the
    // current step again.
    void superponer(int etapa);
    int superpuesta() const { return etapa_; }

    // Where a window of `tamano` (at least `minimo`) goes beside `panel` without covering
    // it, all of it on `pantalla`: right, left, below or above, the first where it fits
    // whole; else narrowed or shortened to the side with most room; else over `cubrible`
    // (the part of the panel with no controls: its plot), where it fits; else over the panel.
    static QRect sitioLibre(const QRect &panel, QSize tamano, QSize minimo,
                            const QRect &pantalla, const QRect &cubrible = QRect());
    // Placed so, beside `panel` on `panel`'s screen (`cubrible` in global coordinates).
    void colocarJunto(const QWidget &panel, const QRect &cubrible);
    // Any other window of the panel's, so.
    static void colocar(QWidget &ventana, const QWidget &panel, const QRect &cubrible);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void dibujar(const RespuestaEscalon::Figuras &f);
    void listarEtapas();
    void dibujarRepeticiones();

    const RespuestaEscalon &respuesta_;
    // Steady clock to wall clock, taken once so a step's time of day never flickers.
    std::chrono::system_clock::duration desfase_;
    QLabel *estado_;
    QCustomPlot *grafico_;
    QList<QLabel *> rotulos_, valores_;
    QTabWidget *pestanas_;
    QTableWidget *tabla_;
    QTimer temporizador_;
    const Ejecutor *ejecutor_ = nullptr;
    QWidget *filaSuperponer_;
    QComboBox *superponer_;
    QStackedWidget *graficos_;
    QCustomPlot *graficoRepeticiones_;
    QTableWidget *tablaRepeticiones_;
    int etapa_ = 0;
    qsizetype dibujados_ = -1; // results drawn over one another, -1: to be drawn
};
