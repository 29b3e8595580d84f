#include "ventanarespuesta.h"

#include <array>

#include <QApplication>
#include <QClipboard>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

#include "recepcion/adquisicion.h"
#include "recepcion/respuestaescalon.h"

namespace {

const QString nada = QStringLiteral("—");

QString real(const std::optional<double> &v, int decimales)
{
    return v ? QLocale().toString(*v, 'f', decimales) : nada;
}

QString textoEscalon(const RespuestaEscalon::Figuras &f)
{
    return f.hay ? QStringLiteral("%1 → %2").arg(f.desde).arg(f.hasta) : nada;
}

// The figures in the order of the captions and the table's columns.
QStringList textos(const RespuestaEscalon::Figuras &f)
{
    return {textoEscalon(f),
            real(f.subida, 3),
            f.pico ? QString::number(*f.pico) : nada,
            real(f.sobreimpulso, 1),
            real(f.tiempoPico, 3),
            real(f.establecimiento, 3),
            real(f.errorEstacionario, 2),
            real(f.periodo, 3)};
}

// Each figure's caption above the table and its column heading, in the order of textos().
struct Nombre
{
    QString rotulo, columna;
};
const std::array<Nombre, 8> nombres{{
    {QStringLiteral("Escalón del set point"), QStringLiteral("Escalón")},
    {QStringLiteral("Tiempo de subida (10 % a 90 %), s"), QStringLiteral("Subida (s)")},
    {QStringLiteral("Valor de pico"), QStringLiteral("Valor de pico")},
    {QStringLiteral("Sobreimpulso, % del escalón"), QStringLiteral("Sobreimpulso (%)")},
    {QStringLiteral("Tiempo de pico, s"), QStringLiteral("Tiempo de pico (s)")},
    {QStringLiteral("Tiempo de establecimiento (± 5 %), s"),
     QStringLiteral("Establecimiento (s)")},
    {QStringLiteral("Error en régimen permanente"), QStringLiteral("Error permanente")},
    {QStringLiteral("Periodo de oscilación, s"), QStringLiteral("Periodo (s)")},
}};

QStringList columnas()
{
    QStringList c;
    for (const Nombre &n : nombres)
        c << n.columna;
    return c;
}

} // namespace

VentanaRespuesta::VentanaRespuesta(const RespuestaEscalon &respuesta, QWidget *parent)
    : QWidget(parent, Qt::Window), respuesta_(respuesta)
{
    setObjectName(QStringLiteral("VentanaRespuesta"));
    setWindowTitle(QStringLiteral("Respuesta al escalón"));

    auto *formulario = new QFormLayout;
    for (const Nombre &n : nombres) {
        auto *valor = new QLabel(nada);
        valor->setTextInteractionFlags(Qt::TextSelectableByMouse);
        formulario->addRow(n.rotulo, valor);
        valores_ << valor;
    }

    tabla_ = new QTableWidget(0, int(nombres.size()));
    tabla_->setObjectName(QStringLiteral("tablaEscalones"));
    tabla_->setHorizontalHeaderLabels(columnas());
    tabla_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tabla_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto *copiarBoton = new QPushButton(QStringLiteral("Copiar"));
    copiarBoton->setObjectName(QStringLiteral("btnCopiar"));
    copiarBoton->setToolTip(QStringLiteral("Copia la tabla como texto separado por tabuladores"));
    connect(copiarBoton, &QPushButton::clicked, this, &VentanaRespuesta::copiar);
    auto *atajo = new QShortcut(QKeySequence::Copy, this);
    connect(atajo, &QShortcut::activated, this, &VentanaRespuesta::copiar);

    auto *pie = new QHBoxLayout;
    pie->addWidget(new QLabel(QStringLiteral("Últimos %1 escalones, el actual primero")
                                  .arg(RespuestaEscalon::escalonesGuardados)));
    pie->addStretch();
    pie->addWidget(copiarBoton);

    auto *todo = new QVBoxLayout(this);
    todo->addLayout(formulario);
    todo->addWidget(tabla_, 1);
    todo->addLayout(pie);
    resize(920, 460);

    connect(&temporizador_, &QTimer::timeout, this, &VentanaRespuesta::actualizar);
}

void VentanaRespuesta::actualizar()
{
    const QStringList actual = textos(respuesta_.actual());
    for (qsizetype i = 0; i < valores_.size(); ++i)
        valores_[i]->setText(actual.at(i));
    const int filas = respuesta_.cuantos();
    tabla_->setRowCount(filas);
    for (int fila = 0; fila < filas; ++fila) {
        const QStringList celdas = textos(respuesta_.escalon(fila));
        for (int c = 0; c < celdas.size(); ++c) {
            QTableWidgetItem *item = tabla_->item(fila, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                tabla_->setItem(fila, c, item);
            }
            item->setText(celdas.at(c));
        }
    }
}

QString VentanaRespuesta::textoTabla() const
{
    QString texto = columnas().join(u'\t') + u'\n';
    for (int fila = 0; fila < respuesta_.cuantos(); ++fila)
        texto += textos(respuesta_.escalon(fila)).join(u'\t') + u'\n';
    return texto;
}

void VentanaRespuesta::copiar() const
{
    QApplication::clipboard()->setText(textoTabla());
}

void VentanaRespuesta::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    actualizar();
    temporizador_.start(Adquisicion::intervaloLecturasMs);
}

void VentanaRespuesta::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    temporizador_.stop();
}
