#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class Adquisicion;

// A port that sends nothing since its opening (the wrong one) is said so after a few seconds,
// without a dialog (the window: in the time box's tooltip and faintly on the chart), until a
// sample comes.
class EsperaDatos
{
public:
    static constexpr std::chrono::seconds plazo{3};

    // Gets the note, and an empty text when it goes.
    using Mostrar = std::function<void(const QString &nota)>;
    EsperaDatos(const Adquisicion &adquisicion, Mostrar mostrar);

    void puertoAbierto(const QString &descripcion);
    void puertoCerrado();
    // `desdeApertura`: the time since the opening (the timer's own clock in the program).
    void comprobar(std::chrono::milliseconds desdeApertura);

    bool avisando() const { return avisando_; }

private:
    void quitar();

    const Adquisicion &adquisicion_;
    Mostrar mostrar_;
    QString descripcion_;
    uint64_t muestrasAlAbrir_ = 0;
    bool avisando_ = false;
    QElapsedTimer desdeApertura_;
    QTimer mirar_;
};
