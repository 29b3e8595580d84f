#include "registro.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "core/errores.h"
#include "core/variablesventana.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

namespace {

// The reason for a failed operation on `archivo`, `codigo` being errno right after it.
QString motivoFallo(const QFile &archivo, int codigo)
{
#ifdef Q_OS_UNIX
    if (codigo != 0)
        return errores::textoSistema(codigo);
#else
    Q_UNUSED(codigo);
#endif
    return archivo.errorString();
}

const QString enUso = QStringLiteral("otro panel (u otro programa) está escribiendo en ese "
                                     "archivo; elija otro con «Cambiar destino...»");

} // namespace

Registro::Registro(VariablesVentana &variables, Avisar avisar, Preguntar preguntar)
    : variables_(variables), avisar_(std::move(avisar)), preguntar_(std::move(preguntar)),
      buffer_(tamanoBuffer)
{
}

Registro::~Registro() = default;

// One writer per log file: an advisory lock on the file itself, held while it is open (it
// goes with the descriptor, also when the panel dies). False only where another holds it; a
// file system without locks still logs.
bool Registro::bloquear(QFile &archivo) const
{
#ifdef Q_OS_UNIX
    const Bloqueo sistema = ::flock;
    const Bloqueo &bloqueo = bloqueo_ ? bloqueo_ : sistema;
    int r;
    do
        r = bloqueo(archivo.handle(), LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    return r == 0 || errno != EWOULDBLOCK;
#else
    Q_UNUSED(archivo);
    return true;
#endif
}

bool Registro::carpetaEscribible(const QString &carpeta)
{
    return QFileInfo(carpeta).isWritable();
}

QString Registro::rutaPorDefecto(const Escribible &escribible)
{
    QString carpeta = QCoreApplication::applicationDirPath();
    if (!escribible(carpeta)) {
        carpeta = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (carpeta.isEmpty() || !QFileInfo(carpeta).isDir())
            carpeta = QDir::homePath();
    }
    // The native separator: a backslash in a Linux file name would be part of the name.
    return QDir::toNativeSeparators(QDir(carpeta).filePath(QStringLiteral("registro.xls")));
}

void Registro::setDestino(const QString &ruta)
{
    destino_ = QDir::fromNativeSeparators(ruta);
}

void Registro::clickRegistrar(Qt::CheckState valor)
{
    estado_ = valor;
    if (valor == Qt::Unchecked && variables_.registroAbierto) {
        cerrarRegistro();
        variables_.registroAbierto = false;
    }
    if (valor != Qt::Checked || variables_.registroAbierto || preguntando_)
        return;

    const QString ruta = destino();
    empezarDeNuevo_.clear();
    const QFileInfo info(ruta);
    // Another panel logging there is said at once, before any question (a regular file
    // only: opening a FIFO to look would wait for a writer).
    if (info.isFile()) {
        QFile otro(ruta);
        if (otro.open(QIODevice::ReadOnly) && !bloquear(otro)) {
            fallar(enUso, ruta);
            return;
        }
    }
    if (!info.isFile() || info.size() == 0)
        return;
    retenidos_.reserve(maxRetenidos); // once: no allocation per sample while it is open
    preguntando_ = true;
    const Respuesta respuesta = preguntar_(ruta);
    preguntando_ = false;
    if (respuesta == Respuesta::cancelar) {
        // What came meanwhile is not logged, now or later (it would land out of time order).
        apagar();
        retenidos_.clear();
        descartados_ = 0;
        return;
    }
    if (respuesta == Respuesta::vaciar)
        empezarDeNuevo_ = ruta;
    escribirRetenidos();
}

void Registro::escribirRetenidos()
{
    const size_t descartados = descartados_;
    bool escrito = true;
    for (const Retenido &r : retenidos_)
        if (!(escrito = escribirRegistro(r.dato, r.setPoint, r.msEpoca)))
            break;
    if (escrito)
        terminarEvento();
    retenidos_.clear();
    descartados_ = 0;
    if (escrito && descartados > 0)
        avisar_(QStringLiteral("Mientras se esperaba la respuesta llegaron más muestras de las "
                               "que se pueden guardar a la espera: %1 no se registraron.")
                    .arg(descartados));
}

void Registro::cerrarRegistro()
{
    if (!variables_.registroAbierto)
        return;
    if (usados_ > 0 && !volcar())
        return; // volcar failed and has already closed the file and told the user
    variables_.archivoRegistro.close();
}

bool Registro::abrir()
{
    QFile &archivo = variables_.archivoRegistro;
    archivo.setFileName(destino());
    // Opening a FIFO or a device can wait without end (for a reader, for the device) and
    // freeze the panel; a log is a regular file, or a new one.
    const QFileInfo destino(archivo.fileName());
    if (destino.exists() && !destino.isFile()) {
        fallar(destino.isDir() ? QStringLiteral("es una carpeta")
                               : QStringLiteral("no es un archivo normal"));
        return false;
    }
    const bool deNuevo = archivo.fileName() == empezarDeNuevo_;
    empezarDeNuevo_.clear();
    // Opened to add whatever the choice, and emptied only once locked: another panel's
    // records are never cut away. Unbuffered: our own buffer gathers an event's records.
    errno = 0;
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fallar(motivoFallo(archivo, errno));
        return false;
    }
    if (!bloquear(archivo)) {
        fallar(enUso);
        return false;
    }
    errno = 0;
    if (deNuevo && !archivo.resize(0)) {
        fallar(motivoFallo(archivo, errno));
        return false;
    }
    // A last line without its end (a write cut short by a crash, another program) would
    // run into the first new record: it gets the end it lacks, and stays as it was.
    const char *fin = "";
    if (!deNuevo && archivo.size() > 0) {
        QFile anterior(archivo.fileName());
        char ultimo = '\n';
        if (anterior.open(QIODevice::ReadOnly) && anterior.seek(anterior.size() - 1))
            anterior.getChar(&ultimo);
        fin = ultimo == '\n' ? "" : ultimo == '\r' ? "\n" : "\r\n";
    }
    formatoFecha_ = std::make_unique<FormatoFecha>();
    usados_ = 0;
    variables_.registroAbierto = true;
    return escribirTodo(fin, qint64(std::strlen(fin)));
}

bool Registro::volcar()
{
    if (!escribirTodo(buffer_.data(), qint64(usados_)))
        return false;
    usados_ = 0;
    return true;
}

bool Registro::escribirTodo(const char *datos, qint64 n)
{
    QFile &archivo = variables_.archivoRegistro;
    for (qint64 hecho = 0; hecho < n;) {
        errno = 0;
        const qint64 k = archivo.write(datos + hecho, n - hecho);
        if (k > 0) {
            hecho += k;
            continue;
        }
        // A record reaches the file whole or not at all: the part of one that got there goes,
        // measured back from the file's real end.
        QString motivo = motivoFallo(archivo, errno);
        const char *finUltimo = std::find(std::make_reverse_iterator(datos + hecho),
                                          std::make_reverse_iterator(datos), '\n').base();
        const qint64 parcial = (datos + hecho) - finUltimo;
        const qint64 tamano = archivo.size();
        if (parcial > 0
            && !(tamano >= parcial && archivo.resize(tamano - parcial)
                 && archivo.size() == tamano - parcial))
            motivo += QStringLiteral("; al final del archivo puede quedar un registro a medias");
        fallar(motivo);
        return false;
    }
    return true;
}

void Registro::fallar(const QString &motivo, const QString &ruta)
{
    const QString nombre = QDir::toNativeSeparators(
        ruta.isEmpty() ? variables_.archivoRegistro.fileName() : ruta);
    variables_.archivoRegistro.close();
    variables_.registroAbierto = false;
    usados_ = 0;
    apagar();
    avisar_(QStringLiteral("No se puede escribir el registro de datos en «%1»: %2.\n"
                           "El registro se ha desactivado; la gráfica sigue funcionando.")
                .arg(nombre, motivo));
}

void Registro::apagar()
{
    estado_ = Qt::Unchecked;
    // Logging off where the user sees it; the click handler is not run, nothing else changes.
    if (alApagarse_)
        alApagarse_();
}
