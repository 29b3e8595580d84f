#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QTableWidget;
class RespuestaEscalon;

// «Respuesta al escalón»: the current step's figures and the last steps as a table, brought
// up to date at the read-outs' pace while on show. Not modal: the panel keeps running.
class VentanaRespuesta : public QWidget
{
    Q_OBJECT
public:
    VentanaRespuesta(const RespuestaEscalon &respuesta, QWidget *parent);

    void actualizar();
    // The table as tab-separated text, headings first: what «Copiar» puts on the clipboard.
    QString textoTabla() const;
    void copiar() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    const RespuestaEscalon &respuesta_;
    QList<QLabel *> valores_;
    QTableWidget *tabla_;
    QTimer temporizador_;
};
