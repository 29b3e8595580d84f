#include "enlaceserie.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStringListModel>

#include "core/numeros.h"
#include "recepcion/adquisicion.h"
#include "remoto/direccion.h"
#include "serial/dispositivos.h"
#include "serial/puertoserie.h"

namespace enlaceserie {

namespace {

// "el puerto serial /dev/ttyUSB0", or "el controlador remoto mqtt://..." for one on a broker.
QString elPuerto(const QString &descripcion)
{
    return direccion::esMqtt(descripcion)
               ? QStringLiteral("el controlador remoto %1").arg(descripcion)
               : QStringLiteral("el puerto serial %1").arg(descripcion);
}

} // namespace

bool conectarPuerto(const QLineEdit &txtPuerto, QPushButton &btnPuerto, QPushButton &btnEnviar,
                    PuertoSerie &puerto, const Avisar &avisar)
{
    puerto.cancelarVuelta(); // the user chose: no port reopens behind their back
    QString motivo;
    const auto dispositivo = dispositivos::nombreDispositivo(txtPuerto.text(), &motivo);
    if (!dispositivo) {
        avisar(QStringLiteral("No se puede conectar al puerto «%1»: %2.")
                   .arg(txtPuerto.text(), motivo));
        return false;
    }
    const QString anterior = puerto.PortOpen() ? puerto.descripcion() : QString();
    if (!puerto.abrir(txtPuerto.text(), *dispositivo, &motivo)) {
        QString texto = QStringLiteral("No se puede abrir %1: %2.")
                            .arg(elPuerto(PuertoSerie::describir(txtPuerto.text(), *dispositivo)),
                                 motivo);
        if (!anterior.isEmpty()) {
            QString cerrado = elPuerto(anterior);
            cerrado[0] = cerrado[0].toUpper();
            texto += QStringLiteral("\n%1 se ha cerrado: no hay ningún puerto abierto.").arg(cerrado);
        }
        btnPuerto.setEnabled(true);
        btnEnviar.setEnabled(false);
        avisar(texto);
        return false;
    }
    puertoRecuperado(btnPuerto, btnEnviar, puerto);
    return true;
}

void puertoRecuperado(QPushButton &btnPuerto, QPushButton &btnEnviar, const PuertoSerie &puerto)
{
    btnPuerto.setEnabled(false);
    permisoEnviar(btnEnviar, puerto);
}

void permisoEnviar(QPushButton &btnEnviar, const PuertoSerie &puerto)
{
    QString motivo;
    const bool puede = puerto.puedeEnviar(&motivo);
    btnEnviar.setEnabled(puede);
    btnEnviar.setToolTip(puede ? QString() : QStringLiteral("No se puede enviar: %1.").arg(motivo));
}

bool enviarSetPoint(QLineEdit &txtSetPoint, Adquisicion &adquisicion, PuertoSerie &puerto,
                    const Avisar &avisar, bool &rangoDicho)
{
    const auto valor = numeros::leerEntero(txtSetPoint.text());
    if (!valor) {
        avisar(QStringLiteral("El set point «%1» no es un número entero válido.")
                   .arg(txtSetPoint.text()));
        return false;
    }
    const int16_t enLinea = std::min<int16_t>(*valor, 100);
    if (enLinea < 0) {
        avisar(QStringLiteral("El set point no puede ser negativo (%1).").arg(*valor));
        return false;
    }
    QString motivo;
    if (!adquisicion.enviarSetPoint(puerto, static_cast<uint8_t>(enLinea), &motivo)) {
        avisar(QStringLiteral("No se pudo enviar el set point por el puerto serial %1: %2.")
                   .arg(puerto.descripcion(), motivo));
        return false;
    }
    // The box shows what was sent (a typed 150 went as 100); the reason, once a run.
    txtSetPoint.setText(numeros::textoEntero(enLinea));
    if (enLinea != *valor && !rangoDicho) {
        rangoDicho = true;
        avisar(QStringLiteral("El controlador admite set points de 0 a 100: se ha enviado %1 "
                              "por el puerto serial %2.")
                   .arg(enLinea)
                   .arg(puerto.descripcion()));
    }
    return true;
}

void cambioPuerto(const QLineEdit &txtPuerto, QPushButton &btnPuerto, const PuertoSerie &puerto)
{
    if (!puerto.PortOpen())
        return;
    QString motivo;
    const auto dispositivo = dispositivos::nombreDispositivo(txtPuerto.text(), &motivo);
    btnPuerto.setEnabled(!dispositivo || *dispositivo != puerto.dispositivo());
}

void cerrarPuerto(PuertoSerie &puerto)
{
    puerto.cancelarVuelta();
    if (puerto.PortOpen())
        puerto.cerrar();
}

QString puertoPerdido(const QString &motivo, QPushButton &btnPuerto, QPushButton &btnEnviar,
                      const PuertoSerie &puerto, const Avisar &avisar)
{
    btnPuerto.setEnabled(true);
    btnEnviar.setEnabled(false);
    const QString texto =
        QStringLiteral("Se perdió la conexión con %1: %2.\n%3")
            .arg(elPuerto(puerto.descripcion()), motivo,
                 puerto.esRemoto()
                     ? QStringLiteral("Se reconectará sola cuando el broker responda; para "
                                      "usar otro puerto, escríbalo y pulse «Conectar».")
                 : puerto.esperandoVuelta()
                     ? QStringLiteral("Se reconectará sola cuando el dispositivo vuelva; para "
                                      "usar otro puerto, escríbalo y pulse «Conectar».")
                     : QStringLiteral("No se reconectará sola, porque otro dispositivo "
                                      "podría recibir el mismo nombre: cuando vuelva, pulse "
                                      "«Conectar»."));
    avisar(texto);
    return texto;
}

QString motivoApertura(const QString &anterior, const QString &actual, bool perdido)
{
    if (anterior == actual)
        return perdido ? QStringLiteral("se perdió el puerto serial %1 y volvió").arg(actual)
                       : QStringLiteral("se volvió a conectar el puerto serial %1").arg(actual);
    if (perdido)
        return QStringLiteral("se perdió el puerto serial %1 y se conectó el %2").arg(anterior, actual);
    return QStringLiteral("se cambió del puerto serial %1 al %2").arg(anterior, actual);
}

void mostrarNombre(QLineEdit &txtPuerto)
{
    const QMargins margenes = txtPuerto.textMargins();
    // The frame, and the 2 pixels QLineEdit keeps on each side of its text.
    const int marco = txtPuerto.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &txtPuerto);
    const int ancho = txtPuerto.width() - margenes.left() - margenes.right() - 2 * (marco + 2);
    const bool cabe = txtPuerto.fontMetrics().horizontalAdvance(txtPuerto.text()) <= ancho;
    txtPuerto.setCursorPosition(cabe ? 0 : int(txtPuerto.text().size()));
}

QString ayudaPuerto(const QString &texto, const QList<dispositivos::Dispositivo> &presentes)
{
    QString motivo;
    const auto dispositivo = dispositivos::nombreDispositivo(texto, &motivo);
    if (!dispositivo)
        return QStringLiteral("«%1»: %2").arg(texto, motivo);
    const QString ubicacion = dispositivos::ubicacion(*dispositivo);
    QStringList lineas{QStringLiteral("Puerto serial: %1").arg(ubicacion)};
    const QFileInfo info(ubicacion);
    const QString destino = info.isSymLink() ? info.canonicalFilePath() : QString();
    if (info.isSymLink())
        lineas << (destino.isEmpty() ? QStringLiteral("Enlace que ahora no lleva a ningún dispositivo")
                                     : QStringLiteral("Enlace a %1").arg(destino));
    const auto presente = std::find_if(presentes.cbegin(), presentes.cend(),
                                       [&](const dispositivos::Dispositivo &d) {
                                           return dispositivos::mismaUbicacion(d.ubicacion, ubicacion)
                                                  || (!destino.isEmpty()
                                                      && dispositivos::mismaUbicacion(d.ubicacion, destino));
                                       });
    if (presente == presentes.cend()) {
        lineas << (info.exists() ? QStringLiteral("El sistema no lo tiene por un puerto serial")
                                 : QStringLiteral("No está conectado ahora"));
    } else if (presente->identidad.conocida()) {
        const dispositivos::Identidad &id = presente->identidad;
        lineas << QStringLiteral("USB %1:%2, %3")
                      .arg(id.fabricante, 4, 16, QLatin1Char('0'))
                      .arg(id.producto, 4, 16, QLatin1Char('0'))
                      .arg(id.serie.isEmpty() ? QStringLiteral("sin número de serie")
                                              : QStringLiteral("número de serie %1").arg(id.serie));
    } else {
        lineas << QStringLiteral("Conectado (%1), sin más datos del sistema").arg(presente->nombre);
    }
    return lineas.join(u'\n');
}

void completarPuertos(QLineEdit &txtPuerto)
{
    QStringList nombres;
    for (const dispositivos::Dispositivo &d : dispositivos::presentes())
        nombres << d.nombre << d.ubicacion;
    nombres.removeDuplicates();
    completarPuertos(txtPuerto, nombres);
}

void completarPuertos(QLineEdit &txtPuerto, const QStringList &nombres)
{
    QCompleter *completer = txtPuerto.completer();
    if (!completer) {
        completer = new QCompleter(nombres, &txtPuerto);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        txtPuerto.setCompleter(completer);
    } else if (auto *modelo = qobject_cast<QStringListModel *>(completer->model())) {
        modelo->setStringList(nombres);
    }
    // The box is a few characters wide and the list would be as narrow: it is made as wide
    // as its longest name (a /dev/serial/by-id/ path), frame, text margins and scroll bar.
    QAbstractItemView *lista = completer->popup();
    int texto = 0;
    for (const QString &nombre : nombres)
        texto = std::max(texto, lista->fontMetrics().horizontalAdvance(nombre));
    const QStyle *estilo = lista->style();
    const int margen = estilo->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lista) + 1;
    lista->setMinimumWidth(texto + 2 * margen + 2 * lista->frameWidth()
                           + estilo->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, lista));
}

} // namespace enlaceserie
