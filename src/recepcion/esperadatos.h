#pragma once

#include <chrono>
#include <cstdint>

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class QLineEdit;
class Adquisicion;
class GraficoTendencia;

// A port that opens and sends nothing (the wrong one, a controller switched off) looks just
// like a quiet one: after a few seconds without a sample since the opening the window says
// so, without a dialog, in the time box's tooltip and faintly on the chart, until a sample
// comes or the port closes.
class EsperaDatos
{
public:
    static constexpr std::chrono::seconds plazo{3};

    EsperaDatos(const Adquisicion &adquisicion, QLineEdit &txtTiempo, GraficoTendencia &grafico);

    void puertoAbierto(const QString &descripcion);
    void puertoCerrado();
    // `desdeApertura`: the time since the opening (the timer's own clock in the program).
    void comprobar(std::chrono::milliseconds desdeApertura);

    bool avisando() const { return avisando_; }

private:
    void quitar();

    const Adquisicion &adquisicion_;
    QLineEdit &txtTiempo_;
    GraficoTendencia &grafico_;
    QString descripcion_;
    uint64_t muestrasAlAbrir_ = 0;
    bool avisando_ = false;
    QElapsedTimer desdeApertura_;
    QTimer mirar_;
};
