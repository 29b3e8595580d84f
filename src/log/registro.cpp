#include "registro.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include "core/errores.h"
#include "core/variablesventana.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

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

} // namespace

Registro::Registro(VariablesVentana &variables, QLineEdit &txtRegistro, QCheckBox &chkRegistrar,
                   QPushButton &btnCambiarDestino, Avisar avisar)
    : variables_(variables), txtRegistro_(txtRegistro), chkRegistrar_(chkRegistrar),
      btnCambiarDestino_(btnCambiarDestino), avisar_(std::move(avisar)),
      buffer_(tamanoBuffer)
{
}

Registro::~Registro() = default;

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

QString Registro::destino() const
{
    return QDir::fromNativeSeparators(txtRegistro_.text());
}

void Registro::clickRegistrar()
{
    const Qt::CheckState valor = chkRegistrar_.checkState();
    btnCambiarDestino_.setEnabled(valor == Qt::Unchecked);
    if (valor == Qt::Unchecked && variables_.registroAbierto) {
        cerrarRegistro();
        variables_.registroAbierto = false;
    }
    if (valor != Qt::Checked || variables_.registroAbierto || preguntando_)
        return;

    const QString ruta = destino();
    const bool confirmado = !destinoElegido_.isEmpty() && ruta == destinoElegido_;
    destinoElegido_.clear();
    empezarDeNuevo_.clear();
    if (confirmado) {
        empezarDeNuevo_ = ruta;
        return;
    }
    const QFileInfo info(ruta);
    if (!info.isFile() || info.size() == 0)
        return;
    const std::optional<bool> anadir = preguntarAnadir(ruta);
    if (!anadir) {
        chkRegistrar_.setCheckState(Qt::Unchecked);
        btnCambiarDestino_.setEnabled(true);
        retenidos_.clear();
        descartados_ = 0;
        return;
    }
    if (!*anadir)
        empezarDeNuevo_ = ruta;
    escribirRetenidos();
}

void Registro::escribirRetenidos()
{
    const size_t descartados = descartados_;
    bool escrito = true;
    for (const Retenido &r : retenidos_)
        if (!(escrito = escribirRegistro(r.dato, r.setPoint, r.segundoEpoca)))
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

std::optional<bool> Registro::preguntarAnadir(const QString &ruta)
{
    // Shown like the save dialog: window-modal, in its own event loop, so receive events
    // keep being handled; the pipeline does not log while it is open.
    QMessageBox caja(QMessageBox::Question, QStringLiteral("Velmora"),
                     QStringLiteral("El archivo %1 ya contiene datos. ¿Añadir los nuevos "
                                    "registros al final?")
                         .arg(QDir::toNativeSeparators(ruta)),
                     QMessageBox::NoButton, btnCambiarDestino_.window());
    caja.setObjectName(QStringLiteral("preguntaAnadir"));
    caja.setWindowModality(Qt::WindowModal);
    QPushButton *si = caja.addButton(QStringLiteral("Sí"), QMessageBox::YesRole);
    QPushButton *no = caja.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    QPushButton *cancelar = caja.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
    caja.setDefaultButton(si);
    caja.setEscapeButton(cancelar);
    retenidos_.reserve(maxRetenidos); // once: no allocation per sample while it is open
    preguntando_ = true;
    caja.exec();
    preguntando_ = false;
    if (caja.clickedButton() == si)
        return true;
    if (caja.clickedButton() == no)
        return false;
    return std::nullopt;
}

void Registro::cambiarDestino(QFileDialog &dialogo)
{
    dialogo.setAcceptMode(QFileDialog::AcceptSave);
    dialogo.setDefaultSuffix(QStringLiteral("xls"));
    if (dialogo.exec() != QDialog::Accepted)
        return;
    const QStringList elegidos = dialogo.selectedFiles();
    if (!elegidos.isEmpty() && !elegidos.first().isEmpty()) {
        txtRegistro_.setText(QDir::toNativeSeparators(elegidos.first()));
        destinoElegido_ = destino();
    }
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
    const QIODevice::OpenMode modo = archivo.fileName() == empezarDeNuevo_ ? QIODevice::Truncate
                                                                            : QIODevice::Append;
    empezarDeNuevo_.clear();
    // A last line without its end (a write cut short by a crash, another program) would
    // run into the first new record: it is ended first, and stays as it was.
    bool sinFinDeLinea = false;
    if (modo == QIODevice::Append && destino.size() > 0) {
        QFile anterior(archivo.fileName());
        char ultimo = '\n';
        if (anterior.open(QIODevice::ReadOnly) && anterior.seek(anterior.size() - 1))
            anterior.getChar(&ultimo);
        sinFinDeLinea = ultimo != '\n';
    }
    // Unbuffered: our own buffer already gathers the records of an event.
    errno = 0;
    if (!archivo.open(QIODevice::WriteOnly | modo | QIODevice::Unbuffered)) {
        fallar(motivoFallo(archivo, errno));
        return false;
    }
    formatoFecha_ = std::make_unique<FormatoFecha>();
    usados_ = 0;
    tamanoEscrito_ = archivo.size();
    variables_.registroAbierto = true;
    return !sinFinDeLinea || escribirTodo("\r\n", 2);
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
        if (k <= 0) {
            // A record reaches the file whole or not at all: what part of one got there goes.
            const QString motivo = motivoFallo(archivo, errno);
            const char *finUltimo = std::find(std::make_reverse_iterator(datos + hecho),
                                              std::make_reverse_iterator(datos), '\n').base();
            archivo.resize(tamanoEscrito_ + (finUltimo - datos));
            fallar(motivo);
            return false;
        }
        hecho += k;
    }
    tamanoEscrito_ += n;
    return true;
}

void Registro::fallar(const QString &motivo)
{
    const QString ruta = QDir::toNativeSeparators(variables_.archivoRegistro.fileName());
    variables_.archivoRegistro.close();
    variables_.registroAbierto = false;
    usados_ = 0;
    // Logging off where the user sees it; the click handler is not run, nothing else changes.
    chkRegistrar_.setCheckState(Qt::Unchecked);
    btnCambiarDestino_.setEnabled(true);
    avisar_(QStringLiteral("No se puede escribir el registro de datos en «%1»: %2.\n"
                           "El registro se ha desactivado; la gráfica sigue funcionando.")
                .arg(ruta, motivo));
}
