#include <QApplication>

#include "historial/ventanahistorial.h"
#include "ui/form1.h"
#include "ui/lineaordenes.h"
#include "core/senales.h"
#include "ui/traducciones.h"

int main(int argc, char *argv[])
{
    QStringList argumentos;
    for (int i = 0; i < argc; ++i)
        argumentos << QString::fromLocal8Bit(argv[i]);
    lineaordenes::Ordenes ordenes;
    if (const auto salida = lineaordenes::leer(argumentos, ordenes))
        return lineaordenes::terminar(*salida);

    QApplication app(argc, argv);
    cargarTraducciones();
    if (!ordenes.ver.isEmpty()) {
        VentanaHistorial::abrir(ordenes.ver, nullptr);
        return app.exec();
    }
    Form1 ventana;
    ventana.show();
    senales::cerrarAlRecibir(ventana, [&ventana] { ventana.cerrarSinPreguntar(); });
    lineaordenes::aplicar(ordenes, ventana);
    return app.exec();
}
