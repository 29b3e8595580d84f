#pragma once

#include <chrono>
#include <cstdint>

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class QLineEdit;
class Adquisicion;
class GraficoTendencia;

// A port that sends nothing since its opening (the wrong one) is said so after a few seconds,
// without a dialog: in the time box's tooltip and faintly on the chart, until a sample comes.
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
