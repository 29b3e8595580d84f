#include "preguntaregistro.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

Registro::Respuesta preguntarRegistro(QWidget *ventana, const QString &ruta)
{
    QMessageBox caja(QMessageBox::Question, QStringLiteral("Velmora"),
                     QStringLiteral("El archivo %1 ya contiene datos. ¿Añadir los nuevos "
                                    "registros al final, o vaciarlo y empezar de nuevo?")
                         .arg(QDir::toNativeSeparators(ruta)),
                     QMessageBox::NoButton, ventana);
    caja.setObjectName(QStringLiteral("preguntaAnadir"));
    caja.setWindowModality(Qt::WindowModal);
    // Buttons that say what they do: emptying a file of records is never a bare «No».
    QPushButton *anadir = caja.addButton(QStringLiteral("Añadir al final"), QMessageBox::YesRole);
    QPushButton *vaciar = caja.addButton(QStringLiteral("Vaciar y empezar de nuevo"),
                                         QMessageBox::DestructiveRole);
    QPushButton *cancelar = caja.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
    caja.setDefaultButton(anadir);
    caja.setEscapeButton(cancelar);
    caja.exec();
    if (caja.clickedButton() == anadir)
        return Registro::Respuesta::anadir;
    if (caja.clickedButton() == vaciar)
        return Registro::Respuesta::vaciar;
    return Registro::Respuesta::cancelar;
}

QString elegirDestino(QFileDialog &dialogo, const QString &actual)
{
    dialogo.setAcceptMode(QFileDialog::AcceptSave);
    // Picking yesterday's log is a choice of where to add, not a consent to empty it: what
    // happens to its records is asked when logging is switched on.
    dialogo.setOption(QFileDialog::DontConfirmOverwrite);
    dialogo.setDefaultSuffix(QStringLiteral("xls"));
    dialogo.setNameFilters({QStringLiteral("Registros (*.xls)"),
                            QStringLiteral("Todos los archivos (*)")});
    // Where the log goes now, under its name.
    const QFileInfo info(actual);
    if (!actual.isEmpty() && info.absoluteDir().exists()) {
        dialogo.setDirectory(info.absolutePath());
        dialogo.selectFile(info.fileName());
    }
    if (dialogo.exec() != QDialog::Accepted || dialogo.selectedFiles().isEmpty())
        return QString();
    return dialogo.selectedFiles().first();
}
