#include "registro.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "core/variablesventana.h"

Registro::Registro(VariablesVentana &variables, QLineEdit &txtRegistro, QCheckBox &chkRegistrar,
                   QPushButton &btnCambiarDestino, Avisar avisar)
    : variables_(variables), txtRegistro_(txtRegistro), chkRegistrar_(chkRegistrar),
      btnCambiarDestino_(btnCambiarDestino), avisar_(std::move(avisar)),
      buffer_(tamanoBuffer)
{
}

Registro::~Registro() = default;

QString Registro::rutaPorDefecto()
{
    // The native separator: a backslash in a Linux file name would be part of the name.
    return QDir::toNativeSeparators(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("registro.xls")));
}

void Registro::clickRegistrar()
{
    const Qt::CheckState valor = chkRegistrar_.checkState();
    btnCambiarDestino_.setEnabled(valor == Qt::Unchecked);
    if (valor == Qt::Unchecked && variables_.registroAbierto) {
        cerrarRegistro();
        variables_.registroAbierto = false;
    }
}

void Registro::cambiarDestino(QFileDialog &dialogo)
{
    dialogo.setAcceptMode(QFileDialog::AcceptSave);
    dialogo.setDefaultSuffix(QStringLiteral("xls"));
    if (dialogo.exec() != QDialog::Accepted)
        return;
    const QStringList elegidos = dialogo.selectedFiles();
    if (!elegidos.isEmpty() && !elegidos.first().isEmpty())
        txtRegistro_.setText(QDir::toNativeSeparators(elegidos.first()));
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
    archivo.setFileName(QDir::fromNativeSeparators(txtRegistro_.text()));
    // Opening a FIFO or a device can wait without end (for a reader, for the device) and
    // freeze the panel; a log is a regular file, or a new one.
    const QFileInfo destino(archivo.fileName());
    if (destino.exists() && !destino.isFile()) {
        fallar(destino.isDir() ? QStringLiteral("es una carpeta")
                               : QStringLiteral("no es un archivo normal"));
        return false;
    }
    // Unbuffered: our own buffer already gathers the records of an event.
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
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
