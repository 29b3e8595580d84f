#include "errores.h"

#include <cerrno>
#include <cstring>

namespace errores {

QString textoSistema(int codigo)
{
    switch (codigo) {
    case 0:
        return QString();
    case ENOSPC:
        return QStringLiteral("no queda espacio en el dispositivo");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("se ha agotado la cuota de disco del usuario");
#endif
    case EFBIG:
        return QStringLiteral("el archivo ha llegado al tamaño máximo permitido");
    case EROFS:
        return QStringLiteral("el sistema de archivos es de solo lectura");
    case EACCES:
    case EPERM:
        return QStringLiteral("no tiene permiso para escribir ahí");
    case ENOENT:
        return QStringLiteral("no existe esa carpeta o ese archivo");
    case ENOTDIR:
        return QStringLiteral("una parte de la ruta no es una carpeta");
    case EISDIR:
        return QStringLiteral("es una carpeta");
    case EIO:
        return QStringLiteral("error de lectura o escritura en el dispositivo");
    case ENAMETOOLONG:
        return QStringLiteral("el nombre es demasiado largo");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("hay demasiados archivos abiertos");
    default:
        return QString::fromLocal8Bit(std::strerror(codigo));
    }
}

} // namespace errores
