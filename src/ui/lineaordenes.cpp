#include "lineaordenes.h"

#include <cstdio>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include "ui/form1.h"

namespace lineaordenes {

namespace {

QString ayuda()
{
    return QStringLiteral(
        "Uso: velmora [opciones] [PUERTO]\n"
        "Panel de control de un controlador PID conectado por puerto serial.\n"
        "\n"
        "Argumentos:\n"
        "  PUERTO         puerto que se escribe en «Puerto Serial»: un número (1 es el\n"
        "                 primer puerto serial), un nombre (ttyUSB0), una ruta (/dev/ttyACM0)\n"
        "                 o un controlador remoto, mqtt://SERVIDOR[:PUERTO]/NOMBRE, publicado\n"
        "                 por velmora-puente\n"
        "\n"
        "Opciones:\n"
        "  --conectar     pulsa «Conectar» en cuanto se abre la ventana\n"
        "  --consigna     muestra la fila «Set Point» para enviar un set point al\n"
        "                 controlador (de 0 a 100)\n"
        "  --milisegundos registra la hora con milisegundos (se recuerda en adelante)\n"
        "  --ver ARCHIVO  abre solo la ventana que muestra un registro, sin puerto\n"
        "  -h, --help     muestra esta ayuda\n"
        "  -v, --version  muestra la versión\n"
        "\n"
        "Sin argumentos, la ventana se abre como siempre. También se aceptan las opciones\n"
        "comunes a los programas Qt (-platform, -style, -session...).\n");
}

// Qt's own options (-platform, -style, -session...) are stepped over: QApplication takes them.
// How many arguments the option takes with its value; 0 if it is not one of Qt's.
int argumentosDeQt(const QString &argumento)
{
    static const QStringList conValor{
        "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display", "geometry",
        "title", "icon", "name", "visual"};
    static const QStringList sinValor{"reverse", "widgetcount", "testability", "nograb",
                                      "dograb"};
    static const QStringList conIgual{"style=", "stylesheet=", "qmljsdebugger="};
    // Qt reads "--platform" as "-platform".
    const QString nombre = argumento.mid(argumento.startsWith(QStringLiteral("--")) ? 2 : 1);
    if (conValor.contains(nombre))
        return 2;
    if (sinValor.contains(nombre))
        return 1;
    for (const QString &prefijo : conIgual)
        if (nombre.startsWith(prefijo))
            return 1;
    return 0;
}

Salida error(const QString &texto)
{
    return Salida{2, texto + QStringLiteral(" (vea velmora --help)\n")};
}

} // namespace

std::optional<Salida> leer(const QStringList &argumentos, Ordenes &ordenes)
{
    static const QStringList nuestras{"-h", "--help", "-v", "--version", "--conectar",
                                         "--consigna", "--milisegundos"};
    QStringList puertos;
    bool ayudaPedida = false;
    bool versionPedida = false;
    bool conectar = false;
    bool consigna = false;
    bool milisegundos = false;
    std::optional<QString> ver;
    bool soloPuertos = false;
    for (qsizetype i = 1; i < argumentos.size(); ++i) {
        const QString &a = argumentos.at(i);
        if (soloPuertos || !a.startsWith(u'-') || a == QStringLiteral("-")) {
            puertos << a;
            continue;
        }
        if (a == QStringLiteral("--"))
            soloPuertos = true;
        else if (a == QStringLiteral("-h") || a == QStringLiteral("--help"))
            ayudaPedida = true;
        else if (a == QStringLiteral("-v") || a == QStringLiteral("--version"))
            versionPedida = true;
        else if (a == QStringLiteral("--conectar"))
            conectar = true;
        else if (a == QStringLiteral("--consigna"))
            consigna = true;
        else if (a == QStringLiteral("--milisegundos"))
            milisegundos = true;
        else if (a == QStringLiteral("--ver")) {
            if (++i >= argumentos.size())
                return error(QStringLiteral("Falta el archivo de --ver"));
            ver = argumentos.at(i);
        } else if (a.startsWith(QStringLiteral("--ver=")))
            ver = a.mid(6);
        else if (nuestras.contains(a.section(u'=', 0, 0)))
            return error(QStringLiteral("La opción %1 no lleva valor").arg(a.section(u'=', 0, 0)));
        else if (const int n = argumentosDeQt(a); n == 0)
            return error(QStringLiteral("Opción desconocida: %1").arg(a));
        else if ((i += n - 1) >= argumentos.size())
            return error(QStringLiteral("Falta el valor de %1").arg(a));
    }
    if (ayudaPedida)
        return Salida{0, ayuda()};
    if (versionPedida)
        return Salida{0, QStringLiteral("velmora %1\n"
                                        "Copyright (C) 2026 Velmora developers\n"
                                        "Licencia GPL-3.0-or-later "
                                        "<https://www.gnu.org/licenses/gpl-3.0.html>: es "
                                        "software libre; puede redistribuirlo y modificarlo.\n"
                                        "No hay NINGUNA GARANTÍA, en la medida en que lo "
                                        "permita la ley.\n")
                             .arg(QStringLiteral(VELMORA_VERSION))};
    if (puertos.size() > 1)
        return error(QStringLiteral("Sobra «%1»: solo se indica un puerto").arg(puertos.at(1)));
    // An empty argument (an unset variable in a script) would silently mean port 1.
    if (!puertos.isEmpty() && puertos.first().trimmed().isEmpty())
        return error(QStringLiteral("El puerto está vacío: indique un número, un nombre o una "
                                    "ruta"));
    if (ver && ver->isEmpty())
        return error(QStringLiteral("Falta el archivo de --ver"));
    if (ver && (!puertos.isEmpty() || conectar || consigna))
        return error(QStringLiteral("--ver abre solo el registro: no lleva puerto, --conectar "
                                    "ni --consigna"));
    ordenes.ver = ver.value_or(QString());
    ordenes.milisegundos = milisegundos;
    ordenes.puerto = puertos.value(0);
    ordenes.conectar = conectar;
    ordenes.consigna = consigna;
    return std::nullopt;
}

int terminar(const Salida &salida)
{
    std::fputs(salida.texto.toLocal8Bit().constData(), salida.codigo == 0 ? stdout : stderr);
    return salida.codigo;
}

void aplicar(const Ordenes &ordenes, Form1 &ventana)
{
    QSettings ajustes(QStringLiteral("velmora"), QStringLiteral("velmora"));
    if (ordenes.milisegundos)
        ajustes.setValue(Form1::claveMilisegundos, true);
    ventana.setMilisegundos(ajustes.value(Form1::claveMilisegundos, false).toBool());
    if (!ordenes.puerto.isEmpty())
        ventana.txtPuerto->setText(ordenes.puerto);
    if (ordenes.consigna)
        for (QWidget *w : std::initializer_list<QWidget *>{ventana.lblSetPoint, ventana.txtSetPoint,
                                                            ventana.btnEnviar})
            w->setVisible(true);
    if (ordenes.conectar)
        QTimer::singleShot(0, ventana.btnPuerto, &QPushButton::click);
}

} // namespace lineaordenes
