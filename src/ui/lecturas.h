#pragma once

#include <QElapsedTimer>
#include <QTimer>

class QLineEdit;
class Adquisicion;
class GraficoTendencia;

// The read-outs of the last sample («Último dato recibido» and the seconds since the one
// before). They change about five times a second, together with a frame of the chart where
// one comes in time, and always end on the last sample.
class Lecturas
{
public:
    Lecturas(Adquisicion &adquisicion, QLineEdit &txtTiempo, QLineEdit &txtDato,
             GraficoTendencia &grafico);

    // A receive event brought samples.
    void muestrasNuevas();
    // Writes them now, if a sample came since they were last written.
    void escribir();

private:
    void conFotograma();
    void sinFotograma();

    Adquisicion &adquisicion_;
    QLineEdit &txtTiempo_;
    QLineEdit &txtDato_;
    GraficoTendencia &grafico_;
    QElapsedTimer desdeEscritas_;
    // For the last samples, when no frame comes to carry them (one would, within the
    // interval and two frames, while samples keep coming and the window is on show).
    QTimer tarde_;
};
