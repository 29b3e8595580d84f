#pragma once

#include <memory>
#include <optional>
#include <set>

#include <QTimer>
#include <QWidget>

#include "historial/cargadorhistorial.h"
#include "historial/datoshistorial.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class GraficoHistorial;
class RespuestaEscalon;
class VentanaRespuesta;
struct FigurasCursores;

// A log looked back at: read in the background with a progress bar, drawn whole, zoomed and
// moved at will, the sample under the mouse read out with its session, two cursors that
// measure between them, and the first set-point step on show measured as the live window
// measures it, within its session. Follows the file while the panel writes there; what was
// read stays on show whatever happens to the path. Closing never waits for the reading.
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
    // Measures the first set-point step on show: the text says why not where it cannot; an
    // empty text, that its window opens once its samples are read (avisoEscalon() then says
    // why not, if it cannot after all).
    QString medirEscalonEnVista();
    QString avisoEscalon() const;
    VentanaRespuesta *ventanaRespuesta() const { return ventanaRespuesta_; }
    const RespuestaEscalon *respuesta() const { return respuesta_.get(); }
    // The text of the read-out for sample `i` (its block read).
    QString lectura(uint64_t i) const;
    // The figures between the cursors, where both sit on samples whose blocks are read.
    std::optional<FigurasCursores> figurasCursores();
    // «Copiar» of the cursors' figures, as text.
    QString textoCursores();
    // Asks for block b's samples; true once they are here.
    bool leerBloque(size_t b);

signals:
    void cargado();

private:
    void recibir(const std::shared_ptr<const CargadorHistorial::Lote> &lote);
    void recibirCrudas(const std::shared_ptr<const CargadorHistorial::Crudas> &c);
    void pedir(const std::vector<size_t> &bloques);
    void decir();
    void alCambiarCursores();
    QString hora(uint64_t i) const;
    // The step search and its feeding, as far as the samples read allow.
    void intentarMedir();
    void alimentar();
    void terminarMedicion(const QString &motivo);

    QString ruta_;
    DatosHistorial datos_;
    GraficoHistorial *grafico_;
    QProgressBar *progreso_;
    QLabel *lectura_;
    QLabel *aviso_;
    QLabel *avisoEscalon_;
    QLabel *figuras_;
    QPushButton *btnTodo_;
    QPushButton *btnEscalon_;
    QPushButton *btnCopiar_;
    QCheckBox *chkCursores_;
    std::shared_ptr<CargadorHistorial> cargador_;
    uint64_t generacion_ = 0;
    std::set<size_t> pedidos_;
    QTimer redibujo_;
    bool leido_ = false;
    qint64 malas_ = 0, primeraMala_ = 0;
    QString textoPrimeraMala_;
    QString motivo_; // why the file was read anew, or could not be read
    QString nota_;   // what happened to the path
    std::optional<uint64_t> bajoRaton_;

    // The step being measured: found in [buscarDesde, buscarHasta) (ms), then its samples
    // fed from `siguiente` while the set point stays `setPoint` in its session.
    struct Medicion
    {
        bool buscando = false, alimentando = false;
        int64_t buscarDesde = 0, buscarHasta = 0;
        uint64_t paso = 0, siguiente = 0;
        size_t sesion = 0;
        uint8_t setPoint = 0;
    } medicion_;
    std::unique_ptr<RespuestaEscalon> respuesta_;
    VentanaRespuesta *ventanaRespuesta_ = nullptr;
};
