#pragma once

#include <chrono>

#include <QTimer>
#include <QWidget>

#include "escalon/respuestaescalon.h"

class QCustomPlot;
class QLabel;
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

    // Where a window of `tamano` goes beside `tendencia` without covering it: right, left,
    // below or above, the first that fits on `pantalla`; else the side with most room.
    static QPoint posicionLibre(const QRect &tendencia, const QSize &tamano,
                               const QRect &pantalla);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void dibujar(const RespuestaEscalon::Figuras &f);

    const RespuestaEscalon &respuesta_;
    // Steady clock to wall clock, taken once so a step's time of day never flickers.
    std::chrono::system_clock::duration desfase_;
    QLabel *estado_;
    QCustomPlot *grafico_;
    QList<QLabel *> rotulos_, valores_;
    QTableWidget *tabla_;
    QTimer temporizador_;
};
