#include "lecturas.h"

#include <QLineEdit>

#include "chart/graficotendencia.h"
#include "core/numeros.h"
#include "recepcion/adquisicion.h"

Lecturas::Lecturas(Adquisicion &adquisicion, QLineEdit &txtTiempo, QLineEdit &txtDato,
                   QLineEdit &txtSetPoint, GraficoTendencia &grafico)
    : adquisicion_(adquisicion), txtTiempo_(txtTiempo), txtDato_(txtDato),
      txtSetPoint_(txtSetPoint), grafico_(grafico)
{
    mostrarSetPoint(std::nullopt, true);
    QObject::connect(&grafico_, &GraficoTendencia::antesDeRedibujar, &grafico_,
                     [this] { escribir(); });
    QObject::connect(&grafico_, &GraficoTendencia::antesDeFotograma, &grafico_,
                     [this] { conFotograma(); });
    tarde_.setSingleShot(true);
    QObject::connect(&tarde_, &QTimer::timeout, &grafico_, [this] { sinFotograma(); });
}

void Lecturas::muestrasNuevas()
{
    grafico_.redibujarPronto();
    if (!tarde_.isActive())
        tarde_.start(Adquisicion::intervaloLecturasMs + 2 * GraficoTendencia::intervaloRedibujoMs);
}

void Lecturas::conFotograma()
{
    const qint64 pasado = desdeEscritas_.isValid() ? desdeEscritas_.elapsed()
                                                   : Adquisicion::intervaloLecturasMs;
    if (pasado >= Adquisicion::intervaloLecturasMs)
        escribir();
}

void Lecturas::sinFotograma()
{
    // Minimised: they are written when the window is shown again, with the chart.
    if (!txtDato_.window()->isMinimized())
        escribir();
}

void Lecturas::escribir()
{
    const std::optional<Adquisicion::Lectura> lectura = adquisicion_.tomarLectura();
    if (!lectura)
        return;
    tarde_.stop();
    desdeEscritas_.start();
    // Shown from the start, like any read-out too narrow for its text.
    txtTiempo_.setText(numeros::textoReal(lectura->transcurrido));
    txtTiempo_.setCursorPosition(0);
    txtDato_.setText(numeros::textoEntero(lectura->dato));
    txtDato_.setCursorPosition(0);
    mostrarSetPoint(lectura->setPoint);
}

void Lecturas::mostrarSetPoint(std::optional<int16_t> setPoint, bool forzar)
{
    if (!forzar && setPointEscrito())
        return;
    setPointMostrado_ = setPoint ? numeros::textoEntero(*setPoint) : QString();
    if (txtSetPoint_.text() != setPointMostrado_)
        txtSetPoint_.setText(setPointMostrado_);
}

bool Lecturas::setPointEscrito() const
{
    return txtSetPoint_.text() != setPointMostrado_;
}
