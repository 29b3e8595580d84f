#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "chart/ventanamuestras.h"
#include "core/variablesventana.h"

class QCheckBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class Adquisicion;
class Avisos;
class EsperaDatos;
class Lecturas;
class GraficoTendencia;
class PuertoSerie;
class Registro;
class VentanaRespuesta;
class Ejecutor;
class VentanaPrograma;
struct Programa;

// The panel's one window: its elements, its variables, load and unload, and which handler
// each event reaches.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    static constexpr int anchoCliente = 921;
    static constexpr int altoCliente = 566;
    // What the seconds box measures, in its tooltip while no note takes its place.
    static const QString ayudaTiempo;

    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Elements, by the names the handlers use.
    QLabel *lblPuerto;
    QLineEdit *txtPuerto;
    QPushButton *btnPuerto;
    QLabel *lblSetPoint;
    QLineEdit *txtSetPoint;
    QPushButton *btnEnviar;
    QPushButton *btnPrograma;
    QLabel *lblDato;
    QLineEdit *txtDato;
    QLineEdit *txtTiempo;
    QLabel *lblSegundos;
    QCheckBox *chkAutoEscala;
    QLabel *lblEscala;
    QLineEdit *txtEscala;
    QLabel *lblMajorDivision;
    QLineEdit *txtMajorDivision;
    QLabel *lblAncho;
    QLineEdit *txtAncho;
    GraficoTendencia *MSChart1;
    QGroupBox *Frame1;
    QCheckBox *chkRegistrar;
    QLineEdit *txtRegistro;
    QPushButton *btnCambiarDestino;
    PuertoSerie *MSComm1;
    QFileDialog *CommonDialog1 = nullptr; // made when first shown
    VentanaRespuesta *ventanaRespuesta = nullptr; // made when first asked for
    VentanaPrograma *ventanaPrograma = nullptr;   // made when first asked for

    VariablesVentana variables;
    VentanaMuestras ventana;

    Avisos &avisos() { return *avisos_; }
    Adquisicion &adquisicion() { return *adquisicion_; }
    EsperaDatos &esperaDatos() { return *esperaDatos_; }
    Registro &registro() { return *registro_; }
    Lecturas &lecturas() { return *lecturas_; }
    Ejecutor &ejecutor() { return *ejecutor_; }

    // «Programa», brought to the front.
    void mostrarPrograma();
    // A program from the command line: in the window, run once the port opens where asked,
    // its results written to `resultados` (if any) when it ends.
    void cargarPrograma(const Programa &p, const QString &archivo, bool iniciar,
                        const QString &resultados);
    // Closing asked by the system (log-out, Ctrl+C): a running program stops without a question.
    void cerrarSinPreguntar();

    // «Respuesta al escalón», brought to the front.
    void mostrarRespuestaEscalon();

    // «Registro con milisegundos»; the choice is kept under this key between runs.
    static constexpr const char *claveMilisegundos = "registro/milisegundos";
    void setMilisegundos(bool si);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *objeto, QEvent *evento) override;

private:
    void crearElementos();
    void conectarEventos();
    void cargar();
    void descargar();

    Avisos *avisos_;
    std::function<void(const QString &)> avisar_; // what every handler reports failures through
    QString avisoPerdida_; // taken back when the lost port comes back
    QString puertoAnterior_; // the last one opened, and whether it was lost since
    bool perdido_ = false;
    bool rangoDicho_ = false; // the set point's range has been explained once
    std::unique_ptr<Registro> registro_;
    std::unique_ptr<Adquisicion> adquisicion_;
    std::unique_ptr<Lecturas> lecturas_;
    std::unique_ptr<EsperaDatos> esperaDatos_;
    std::unique_ptr<Ejecutor> ejecutor_;
    QString archivoResultados_;
    bool sinPreguntar_ = false;
    bool descargado_ = false;
};
