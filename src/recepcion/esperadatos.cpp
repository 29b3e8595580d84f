#include "esperadatos.h"

#include <QLineEdit>

#include "chart/graficotendencia.h"
#include "recepcion/adquisicion.h"

EsperaDatos::EsperaDatos(const Adquisicion &adquisicion, QLineEdit &txtTiempo,
                         GraficoTendencia &grafico)
    : adquisicion_(adquisicion), txtTiempo_(txtTiempo), grafico_(grafico)
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
    txtTiempo_.setToolTip(texto);
    grafico_.setNota(texto);
}

void EsperaDatos::quitar()
{
    if (!avisando_)
        return;
    avisando_ = false;
    txtTiempo_.setToolTip(QString());
    grafico_.setNota(QString());
}
