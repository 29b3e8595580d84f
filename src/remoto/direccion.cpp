#include "direccion.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "remoto/lineaprotocolo.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace direccion {

QString Direccion::texto() const
{
    const QString h = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3%4")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), h)
        .arg(puerto)
        .arg(nombre.isEmpty() ? QString() : u'/' + nombre);
}

bool esMqtt(const QString &texto)
{
    const QString t = texto.trimmed();
    return t.startsWith(QStringLiteral("mqtt://"), Qt::CaseInsensitive)
           || t.startsWith(QStringLiteral("mqtts://"), Qt::CaseInsensitive);
}

std::optional<Direccion> leer(const QString &texto, bool conNombre, QString *motivo)
{
    const auto fallar = [motivo](const QString &m) {
        *motivo = m;
        return std::nullopt;
    };
    // Tolerant: a name with a space, as typed, is a name with a space.
    const QUrl url(texto.trimmed(), QUrl::TolerantMode);
    const QString esquema = url.scheme().toLower();
    if (!url.isValid() || (esquema != QLatin1String("mqtt") && esquema != QLatin1String("mqtts")))
        return fallar(QStringLiteral("no es una dirección mqtt://SERVIDOR[:PUERTO]%1")
                          .arg(conNombre ? QStringLiteral("/NOMBRE") : QString()));
    if (url.host().isEmpty())
        return fallar(QStringLiteral("falta el servidor"));
    if (!url.userInfo().isEmpty())
        return fallar(QStringLiteral("el usuario y la contraseña van en el archivo de "
                                     "configuración, nunca en la dirección"));
    Direccion d;
    d.tls = esquema == QLatin1String("mqtts");
    d.host = url.host();
    d.puerto = url.port(d.tls ? 8883 : 1883);
    if (d.puerto < 1 || d.puerto > 65535)
        return fallar(QStringLiteral("el puerto debe estar entre 1 y 65535"));
    QString camino = url.path(QUrl::FullyDecoded);
    if (camino.startsWith(u'/'))
        camino.remove(0, 1);
    if (conNombre) {
        if (const auto mal = lineaprotocolo::nombreInvalido(camino))
            return fallar(camino.isEmpty() ? QStringLiteral("falta el nombre del controlador "
                                                            "tras la barra")
                                           : *mal);
        d.nombre = camino;
    } else if (!camino.isEmpty()) {
        return fallar(QStringLiteral("la dirección del broker no lleva nombre de controlador"));
    }
    return d;
}

std::optional<Configuracion> leerConfiguracion(const QString &ruta, QString *motivo)
{
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *motivo = QStringLiteral("no se puede leer %1: %2").arg(ruta, archivo.errorString());
        return std::nullopt;
    }
    Configuracion c;
    int numero = 0;
    while (!archivo.atEnd()) {
        ++numero;
        const QString linea = QString::fromUtf8(archivo.readLine()).trimmed();
        if (linea.isEmpty() || linea.startsWith(u'#'))
            continue;
        const qsizetype igual = linea.indexOf(u'=');
        if (igual <= 0) {
            *motivo = QStringLiteral("%1, línea %2: se esperaba «clave = valor»").arg(ruta).arg(numero);
            return std::nullopt;
        }
        const QString clave = linea.left(igual).trimmed();
        const QString valor = linea.mid(igual + 1).trimmed();
        if (clave == QLatin1String("usuario"))
            c.usuario = valor;
        else if (clave == QLatin1String("contrasena") || clave == QStringLiteral("contraseña"))
            c.contrasena = valor;
        else if (clave == QLatin1String("ca"))
            c.ca = valor;
        else if (clave == QLatin1String("certificado"))
            c.certificado = valor;
        else if (clave == QLatin1String("clave"))
            c.clave = valor;
        else
            c.resto.append({clave, valor});
    }
#ifdef Q_OS_UNIX
    // A password or a key is read only from a file others cannot read.
    struct stat datos;
    if ((!c.contrasena.isEmpty() || !c.clave.isEmpty())
        && ::fstat(archivo.handle(), &datos) == 0 && (datos.st_mode & 077) != 0) {
        *motivo = QStringLiteral("%1 guarda una contraseña o una clave y lo pueden leer otros "
                                 "usuarios (permisos %2): hágalo solo de su dueño con "
                                 "«chmod 600 %1»")
                      .arg(ruta)
                      .arg(datos.st_mode & 0777, 3, 8, QLatin1Char('0'));
        return std::nullopt;
    }
#endif
    return c;
}

ClienteMqtt::Opciones opciones(const Direccion &d, const Configuracion &c)
{
    ClienteMqtt::Opciones o;
    o.host = d.host;
    o.puerto = d.puerto;
    o.tls = d.tls;
    o.ca = c.ca;
    o.certificado = c.certificado;
    o.clave = c.clave;
    o.usuario = c.usuario;
    o.contrasena = c.contrasena;
    return o;
}

} // namespace direccion
