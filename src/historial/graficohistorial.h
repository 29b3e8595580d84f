#pragma once

#include <optional>
#include <vector>

#include <qcustomplot.h>

#include "chart/cursores.h"

class DatosHistorial;
class TickerHora;

// Value and set point against time over any stretch of a log: a pixel column at a time, each
// drawn from the least to the greatest sample in it, so nothing stands out unseen at any
// zoom; no line crosses from one session to the next. Where the view holds few enough
// samples it draws them from the file (asked for with `pedirBloques`), else from the blocks.
// The wheel zooms the time, a drag moves it, a box dragged with Shift (or the right button)
// zooms into it, time and value; neither goes far past the data's ends.
class GraficoHistorial : public QCustomPlot
{
    Q_OBJECT
public:
    explicit GraficoHistorial(const DatosHistorial &datos, QWidget *parent = nullptr);

    // The whole file, the value's range with a margin.
    void verTodo();
    bool mostrandoTodo() const { return todo_; }
    // Draws again from the data for the range on show.
    void actualizar();
    // Milliseconds taken by the last frame (columns and drawing).
    double msUltimoFotograma() const { return msFotograma_; }
    // The view drawn from the samples themselves (not only from the blocks).
    bool exacto() const { return exacto_; }
    Cursores &cursores() { return *cursores_; }
    // The time format of the axis and the read-outs, the computer's.
    static QString formatoHora(bool milisegundos);

signals:
    // The sample under the mouse, or none.
    void cursor(std::optional<uint64_t> indice);
    // Blocks whose samples the view needs.
    void pedirBloques(const std::vector<size_t> &bloques);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void alCambiarRango();
    void limitar();
    void recuadro(const QRect &r);

    const DatosHistorial &datos_;
    QCPGraph *valor_;
    QCPGraph *setPoint_;
    QSharedPointer<TickerHora> ticker_;
    Cursores *cursores_;
    bool todo_ = true;
    bool dibujando_ = false;
    bool exacto_ = false;
    double msFotograma_ = 0.0;
};
