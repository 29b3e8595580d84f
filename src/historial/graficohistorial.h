#pragma once

#include <optional>

#include <qcustomplot.h>

class DatosHistorial;

// Value and set point against time over any stretch of a log: a pixel column at a time, each
// drawn from the least to the greatest sample in it, so nothing stands out unseen at any
// zoom. The wheel zooms the time, a drag moves it, a box dragged with Shift (or the right
// button) zooms the time into it.
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

signals:
    // The sample under the mouse, or none.
    void cursor(std::optional<size_t> indice);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void alCambiarRango();

    const DatosHistorial &datos_;
    QCPGraph *valor_;
    QCPGraph *setPoint_;
    QSharedPointer<QCPAxisTickerDateTime> ticker_;
    bool todo_ = true;
    bool dibujando_ = false;
    double msFotograma_ = 0.0;
};
