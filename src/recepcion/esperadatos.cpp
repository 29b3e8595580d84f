#include "esperadatos.h"

#include "recepcion/adquisicion.h"

EsperaDatos::EsperaDatos(const Adquisicion &adquisicion, Mostrar mostrar)
    : adquisicion_(adquisicion), mostrar_(std::move(mostrar))
{
    // A look a second is plenty for a note about seconds, and costs nothing per sample.
    mirar_.setInterval(std::chrono::seconds(1));
    QObject::connect(&mirar_, &QTimer::timeout, [this] {
        comprobar(std::chrono::milliseconds(desdeApertura_.elapsed()));
    });
}

void EsperaDatos::puertoAbierto(const QString &descripcion)
{
    quitar();
    descripcion_ = descripcion;
    muestrasAlAbrir_ = adquisicion_.muestrasRecibidas();
    desdeApertura_.start();
    mirar_.start();
}

void EsperaDatos::puertoCerrado()
{
    mirar_.stop();
    quitar();
}

void EsperaDatos::comprobar(std::chrono::milliseconds desdeApertura)
{
    if (adquisicion_.muestrasRecibidas() != muestrasAlAbrir_) {
        mirar_.stop();
        quitar();
        return;
    }
    if (avisando_ || desdeApertura < plazo)
        return;
    avisando_ = true;
    const QString texto =
        QStringLiteral("Conectado al puerto serial %1, pero no ha llegado ningún dato en "
                       "%2 s.\nSi el controlador está en otro puerto, escríbalo y pulse "
                       "«Conectar».")
            .arg(descripcion_)
            .arg(std::chrono::duration_cast<std::chrono::seconds>(desdeApertura).count());
    mostrar_(texto);
}

void EsperaDatos::quitar()
{
    if (!avisando_)
        return;
    avisando_ = false;
    mostrar_(QString());
}
