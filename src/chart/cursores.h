#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include <QObject>
#include <QString>

class QCustomPlot;
class QCPItemStraightLine;
class QCPItemText;
class QCPLayer;
class QKeyEvent;
class QMouseEvent;

// Two cursors, A and B, over a plot's samples: dragged with the mouse, moved one sample at a
// time with the arrow keys (the one last touched). Each sits on a sample, known by its
// number; where that sample is drawn, and which is nearest a point of the axis, the owner
// says, as it alone knows its samples.
class Cursores : public QObject
{
    Q_OBJECT
public:
    struct Muestras
    {
        // The axis coordinate of sample i; nullopt where it is not known (yet, or any more).
        std::function<std::optional<double>(uint64_t)> x;
        // The sample nearest to an axis coordinate; nullopt where not known yet.
        std::function<std::optional<uint64_t>(double)> cercana;
        std::function<uint64_t()> cuantos;
    };

    Cursores(QCustomPlot &plot, Muestras muestras);

    void setVisible(bool si);
    bool visible() const { return visible_; }
    // Both at a third and two thirds of the axis on show (where they were not placed yet).
    void colocar();
    void poner(int cual, uint64_t i); // 0 A, 1 B
    std::optional<uint64_t> indice(int cual) const { return indice_[size_t(cual)]; }
    int activo() const { return activo_; }
    // Puts the lines where their samples are drawn now.
    void actualizar();
    // A cursor on a sample older than `primera` (gone from the plot) moves to it.
    void limitar(uint64_t primera);
    // Where cursor `cual` is on the axis.
    double x(int cual) const { return x_[size_t(cual)]; }
    // Drawn by the owner, not by the plot (its items go to a layer that is not shown).
    void dibujarAparte(QCPLayer *capa);

    // The plot's events: true where a cursor took them.
    bool pulsar(QMouseEvent *event);
    bool mover(QMouseEvent *event);
    bool soltar(QMouseEvent *event);
    bool tecla(QKeyEvent *event);

signals:
    void cambiado();

private:
    void llevar(int cual, double x);

    QCustomPlot &plot_;
    Muestras muestras_;
    std::array<QCPItemStraightLine *, 2> linea_{};
    std::array<QCPItemText *, 2> letra_{};
    std::array<std::optional<uint64_t>, 2> indice_{};
    std::array<double, 2> x_{};
    bool visible_ = false;
    int activo_ = 0;
    int arrastrando_ = -1;
};

// The figures between two cursors, from sums a caller gathers over the samples from A to B
// (both included): what the read-out and «Copiar» show.
struct FigurasCursores
{
    uint64_t n = 0, conSetPoint = 0;
    uint64_t sumaValor = 0, sumaCuadrados = 0, sumaSetPoint = 0;
    int minimo = 0, maximo = 0;
    double tA = 0, tB = 0; // s, from any origin
    int valorA = 0, valorB = 0;
    int pausas = 0;         // sessions that start between them
    double segundosPausas = 0;

    double media() const { return n ? double(sumaValor) / double(n) : 0.0; }
    // Sample standard deviation (n - 1), as a spreadsheet's STDEV; exact from the sums.
    std::optional<double> desviacion() const;
    std::optional<double> mediaSetPoint() const;
    // Mean time between consecutive samples.
    std::optional<double> espaciado() const;

    // «Copiar»: one figure a line, name, tab, value (the computer's decimal separator).
    QString texto(const QString &horaA, const QString &horaB) const;
};
