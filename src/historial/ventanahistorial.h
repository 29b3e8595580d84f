#pragma once

#include <memory>
#include <optional>

#include <QThread>
#include <QWidget>

#include "historial/cargadorhistorial.h"
#include "historial/datoshistorial.h"

class QLabel;
class QProgressBar;
class QPushButton;
class GraficoHistorial;
class RespuestaEscalon;
class VentanaRespuesta;

// A log looked back at: read in the background with a progress bar, drawn whole, zoomed and
// moved at will, the sample under the mouse read out, and any set-point step on show
// measured as the live window measures it. Follows the file while the panel writes there.
class VentanaHistorial : public QWidget
{
    Q_OBJECT
public:
    explicit VentanaHistorial(const QString &ruta, QWidget *parent = nullptr);
    ~VentanaHistorial() override;

    // A window of its own that goes when closed.
    static VentanaHistorial *abrir(const QString &ruta, QWidget *parent);

    const DatosHistorial &datos() const { return datos_; }
    GraficoHistorial &grafico() { return *grafico_; }
    // What the window says about the file (bad lines, a file that shrank, ...).
    QString aviso() const;
    bool leido() const { return leido_; }
    // Measures the first set-point step on show; the text says why not where it cannot.
    QString medirEscalonEnVista();
    VentanaRespuesta *ventanaRespuesta() const { return ventanaRespuesta_; }
    // The text of the read-out for sample `i`.
    QString lectura(size_t i) const;

signals:
    void cargado();

private:
    void recibir(const std::shared_ptr<const CargadorHistorial::Lote> &lote);
    void decir();

    QString ruta_;
    DatosHistorial datos_;
    GraficoHistorial *grafico_;
    QProgressBar *progreso_;
    QLabel *lectura_;
    QLabel *aviso_;
    QLabel *avisoEscalon_;
    QPushButton *btnTodo_;
    QPushButton *btnEscalon_;
    QThread hilo_;
    CargadorHistorial *cargador_;
    bool leido_ = false;
    qint64 malas_ = 0, primeraMala_ = 0;
    QString textoPrimeraMala_;
    QString motivo_; // why the file was read anew, or could not be read
    std::unique_ptr<RespuestaEscalon> respuesta_;
    VentanaRespuesta *ventanaRespuesta_ = nullptr;
};
