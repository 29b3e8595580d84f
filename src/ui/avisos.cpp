#include "avisos.h"

#include <QMessageBox>
#include <QTimer>

Avisos::Avisos(QWidget *ventana) : QObject(ventana), ventana_(ventana) {}

void Avisos::avisar(const QString &texto)
{
    if (pendientes_.contains(texto))
        return;
    for (const auto &caja : abiertos_)
        if (caja && caja->text() == texto)
            return;
    pendientes_.append(texto);
    QTimer::singleShot(0, this, [this, texto] { mostrar(texto); });
}

void Avisos::retirar(const QString &texto)
{
    pendientes_.removeAll(texto);
    for (const auto &caja : std::as_const(abiertos_))
        if (caja && caja->text() == texto)
            caja->close();
}

void Avisos::mostrar(const QString &texto)
{
    if (!pendientes_.removeOne(texto))
        return; // taken back before it was shown
    abiertos_.removeAll(nullptr);
    auto *caja = new QMessageBox(QMessageBox::Warning, QStringLiteral("Velmora"), texto,
                                 QMessageBox::Ok, ventana_);
    caja->setAttribute(Qt::WA_DeleteOnClose);
    // A note needs no answer: the window stays usable, and closable, while it is open.
    caja->setWindowModality(Qt::NonModal);
    abiertos_.append(caja);
    mostrados_.append(texto);
    caja->show(); // open() would make it window-modal again
}
