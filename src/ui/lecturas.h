#pragma once

#include <cstdint>
#include <optional>

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class QLineEdit;
class Adquisicion;
class GraficoTendencia;

// The read-outs of the last sample («Último dato recibido» and the seconds since the one
// before) and the set point it carried. They change about five times a second, together
// with a frame of the chart where one comes in time, and always end on the last sample.
class Lecturas
{
public:
    Lecturas(Adquisicion &adquisicion, QLineEdit &txtTiempo, QLineEdit &txtDato,
             QLineEdit &txtSetPoint, GraficoTendencia &grafico);

    // The set-point box shows the controller's set point (empty while unknown) until the user
    // types in it; what the user typed stays until it is sent. `forzar`: shown whatever the
    // box holds (what «Enviar» has just sent, an opening of the port).
    void mostrarSetPoint(std::optional<int16_t> setPoint, bool forzar = false);
    // The user has typed a set point that is not the one shown: only then is there one to send.
    bool setPointEscrito() const;

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
    QLineEdit &txtSetPoint_;
    QString setPointMostrado_; // what the panel itself last put in the box
    GraficoTendencia &grafico_;
    QElapsedTimer desdeEscritas_;
    // For the last samples, when no frame comes to carry them (one would, within the
    // interval and two frames, while samples keep coming and the window is on show).
    QTimer tarde_;
};
