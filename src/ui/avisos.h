#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

// Messages to the user. Shown from the event loop, never inside the handler that raised
// them (a modal box there would stall the receive path), in boxes that block nothing, and
// never twice at once for the same text.
class Avisos : public QObject
{
    Q_OBJECT
public:
    explicit Avisos(QWidget *ventana);

    void avisar(const QString &texto);
    // The message is no longer true (the lost port came back): it goes, shown or not.
    void retirar(const QString &texto);

    // Every message shown so far, in order.
    const QStringList &mostrados() const { return mostrados_; }

private:
    void mostrar(const QString &texto);

    QWidget *ventana_;
    QStringList pendientes_;
    QList<QPointer<QMessageBox>> abiertos_;
    QStringList mostrados_;
};
