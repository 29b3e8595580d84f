// velmora-puente: one controller's port, published to an MQTT broker.

#include <cstdio>

#include <QCoreApplication>
#include <QTime>

#include "core/senales.h"
#include "puente.h"

int main(int argc, char *argv[])
{
    QStringList argumentos;
    for (int i = 0; i < argc; ++i)
        argumentos << QString::fromLocal8Bit(argv[i]);
    QString salida;
    int codigo = 0;
    const auto opciones = Puente::leerOpciones(argumentos, &salida, &codigo);
    if (!opciones) {
        std::fputs(salida.toLocal8Bit().constData(), codigo == 0 ? stdout : stderr);
        return codigo;
    }
    direccion::Configuracion config;
    if (!opciones->config.isEmpty()) {
        QString motivo;
        const auto leida = direccion::leerConfiguracion(opciones->config, &motivo);
        if (!leida) { // it read a moment ago: changed since
            std::fprintf(stderr, "velmora-puente: %s\n", motivo.toLocal8Bit().constData());
            return 2;
        }
        config = *leida;
    }

    QCoreApplication app(argc, argv);
    Puente puente(*opciones, config);
    QObject::connect(&puente, &Puente::aviso, [](const QString &texto) {
        std::fprintf(stderr, "%s %s\n", qPrintable(QTime::currentTime().toString(u"HH:mm:ss")),
                     texto.toLocal8Bit().constData());
        std::fflush(stderr);
    });
    senales::cerrarAlRecibir(app, [&puente] {
        puente.terminar();
        // What the broker has not acknowledged yet gets a moment; the log has it anyway.
        puente.vaciar(2000);
    });
    QString motivo;
    if (!puente.empezar(&motivo)) {
        std::fprintf(stderr, "velmora-puente: %s\n", motivo.toLocal8Bit().constData());
        return 1;
    }
    return app.exec();
}
