#pragma once

#include <QWidget>

#include "programa/programa.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class Ejecutor;
class PuertoSerie;

// «Programa»: the stages in a table, the limits, the run's buttons and progress, and each
// step's figures with their statistics over the repeats.
class VentanaPrograma : public QWidget
{
    Q_OBJECT
public:
    VentanaPrograma(Ejecutor &ejecutor, const PuertoSerie &puerto, QWidget *parent = nullptr);

    void cargar(const Programa &p, const QString &archivo = QString());
    // The program as the table and boxes have it; nullopt, having said why, where it does not read.
    std::optional<Programa> programa();
    void iniciar();

    QTableWidget *tabla;
    QSpinBox *spnRepetir;
    QLineEdit *txtSuperior, *txtInferior, *txtSeguro;
    QSpinBox *spnMuestras;
    QPushButton *btnAbrir, *btnGuardar, *btnAgregar, *btnQuitar;
    QPushButton *btnIniciar, *btnPausa, *btnDetener;
    QProgressBar *barra;
    QLabel *lblEstado, *lblMensaje;
    QTableWidget *tablaResultados;
    QPushButton *btnCopiar, *btnGuardarResultados, *btnSuperponer;

signals:
    // The repeats of stage `etapa` (from 1) asked for over one another.
    void superponer(int etapa);

private:
    void agregarFila(const Etapa &e);
    void actualizar();
    void mostrarResultados();
    QString textoResultados() const;

    Ejecutor &ejecutor_;
    const PuertoSerie &puerto_;
    QTimer *progreso_;
    QString carpeta_;
};
