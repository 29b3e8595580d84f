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

#include "core/variablesventana.h"

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
    } else if (!*anadir) {
        empezarDeNuevo_ = ruta;
    }
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
    // Unbuffered: our own buffer already gathers the records of an event.
    if (!archivo.open(QIODevice::WriteOnly | modo | QIODevice::Unbuffered)) {
        fallar(archivo.errorString());
        return false;
    }
    formatoFecha_ = std::make_unique<FormatoFecha>();
    usados_ = 0;
    variables_.registroAbierto = true;
    return true;
}

bool Registro::volcar()
{
    QFile &archivo = variables_.archivoRegistro;
    const qint64 escritos = archivo.write(buffer_.data(), qint64(usados_));
    if (escritos != qint64(usados_)) {
        fallar(archivo.errorString());
        return false;
    }
    usados_ = 0;
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
