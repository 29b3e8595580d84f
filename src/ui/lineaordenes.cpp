#include "lineaordenes.h"

#include <cstdio>

#include <QCommandLineParser>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "ui/form1.h"

namespace lineaordenes {

namespace {

// QCommandLineParser's own help is in English; the panel speaks Spanish.
QString ayuda()
{
    return QStringLiteral(
        "Uso: velmora [opciones] [PUERTO]\n"
        "Panel de control de un controlador PID conectado por puerto serie.\n"
        "\n"
        "Argumentos:\n"
        "  PUERTO         puerto que se escribe en «Puerto Serial»: un número (1 es el\n"
        "                 primer puerto serie), un nombre (ttyUSB0) o una ruta (/dev/ttyACM0)\n"
        "\n"
        "Opciones:\n"
        "  --conectar     pulsa «Conectar» en cuanto se abre la ventana\n"
        "  -h, --help     muestra esta ayuda\n"
        "  -v, --version  muestra la versión\n"
        "\n"
        "Sin argumentos, la ventana se abre como siempre.\n");
}

} // namespace

std::optional<Salida> leer(const QStringList &argumentos, Ordenes &ordenes)
{
    QCommandLineParser p;
    const QCommandLineOption conectar(QStringLiteral("conectar"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    p.addOptions({conectar, help, version});
    p.addPositionalArgument(QStringLiteral("PUERTO"), QString());
    if (!p.parse(argumentos)) {
        const QString opcion = p.unknownOptionNames().value(0);
        return Salida{2, (opcion.isEmpty() ? p.errorText()
                                            : QStringLiteral("Opción desconocida: %1").arg(opcion))
                             + QStringLiteral(" (vea velmora --help)\n")};
    }
    if (p.isSet(help))
        return Salida{0, ayuda()};
    if (p.isSet(version))
        return Salida{0, QStringLiteral("velmora %1\n").arg(QStringLiteral(VELMORA_VERSION))};
    const QStringList puertos = p.positionalArguments();
    if (puertos.size() > 1)
        return Salida{2, QStringLiteral("Sobra «%1»: solo se indica un puerto (vea velmora "
                                        "--help)\n").arg(puertos.at(1))};
    ordenes.puerto = puertos.value(0);
    ordenes.conectar = p.isSet(conectar);
    return std::nullopt;
}

int terminar(const Salida &salida)
{
    std::fputs(salida.texto.toLocal8Bit().constData(), salida.codigo == 0 ? stdout : stderr);
    return salida.codigo;
}

void aplicar(const Ordenes &ordenes, Form1 &ventana)
{
    if (!ordenes.puerto.isEmpty())
        ventana.txtPuerto->setText(ordenes.puerto);
    if (ordenes.conectar)
        QTimer::singleShot(0, ventana.btnPuerto, &QPushButton::click);
}

} // namespace lineaordenes
