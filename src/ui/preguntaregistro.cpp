#include "preguntaregistro.h"

#include <QDir>
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
