#include "ventanaprograma.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "programa/ejecutor.h"
#include "serial/puertoserie.h"

namespace {

QString tiempo(std::chrono::milliseconds ms)
{
    const long long s = (ms.count() + 999) / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

VentanaPrograma::VentanaPrograma(Ejecutor &ejecutor, const PuertoSerie &puerto, QWidget *parent)
    : QWidget(parent, Qt::Window), ejecutor_(ejecutor), puerto_(puerto)
{
    setObjectName(QStringLiteral("VentanaPrograma"));
    setWindowTitle(QStringLiteral("Programa - Velmora"));
    auto *raiz = new QVBoxLayout(this);

    tabla = new QTableWidget(0, 3);
    tabla->setObjectName(QStringLiteral("tablaEtapas"));
    tabla->setHorizontalHeaderLabels({QStringLiteral("Etapa"), QStringLiteral("Set point"),
                                      QStringLiteral("Segundos")});
    tabla->horizontalHeader()->setStretchLastSection(true);
    raiz->addWidget(tabla, 2);
    auto *filas = new QHBoxLayout;
    btnAgregar = new QPushButton(QStringLiteral("Añadir etapa"));
    btnQuitar = new QPushButton(QStringLiteral("Quitar etapa"));
    btnAbrir = new QPushButton(QStringLiteral("Abrir…"));
    btnGuardar = new QPushButton(QStringLiteral("Guardar…"));
    for (QPushButton *b : {btnAgregar, btnQuitar, btnAbrir, btnGuardar})
        filas->addWidget(b);
    filas->addStretch();
    raiz->addLayout(filas);

    auto *ajustes = new QFormLayout;
    spnRepetir = new QSpinBox;
    spnRepetir->setRange(1, Programa::maximoRepeticiones);
    txtSuperior = new QLineEdit;
    txtInferior = new QLineEdit;
    txtSeguro = new QLineEdit;
    for (QLineEdit *t : {txtSuperior, txtInferior})
        t->setPlaceholderText(QStringLiteral("sin límite"));
    spnMuestras = new QSpinBox;
    spnMuestras->setRange(1, 1000);
    spnMuestras->setValue(Programa::muestrasFueraPorDefecto);
    ajustes->addRow(QStringLiteral("Repetir"), spnRepetir);
    ajustes->addRow(QStringLiteral("Límite superior"), txtSuperior);
    ajustes->addRow(QStringLiteral("Límite inferior"), txtInferior);
    ajustes->addRow(QStringLiteral("Set point seguro"), txtSeguro);
    ajustes->addRow(QStringLiteral("Muestras fuera"), spnMuestras);
    raiz->addLayout(ajustes);

    auto *marcha = new QHBoxLayout;
    btnIniciar = new QPushButton(QStringLiteral("Iniciar"));
    btnPausa = new QPushButton(QStringLiteral("Pausa"));
    btnDetener = new QPushButton(QStringLiteral("Detener"));
    barra = new QProgressBar;
    barra->setRange(0, 1000);
    barra->setTextVisible(false);
    for (QWidget *w : {static_cast<QWidget *>(btnIniciar), static_cast<QWidget *>(btnPausa),
                       static_cast<QWidget *>(btnDetener)})
        marcha->addWidget(w);
    marcha->addWidget(barra, 1);
    raiz->addLayout(marcha);
    lblEstado = new QLabel;
    lblMensaje = new QLabel;
    lblMensaje->setWordWrap(true);
    raiz->addWidget(lblEstado);
    raiz->addWidget(lblMensaje);

    tablaResultados = new QTableWidget;
    tablaResultados->setObjectName(QStringLiteral("tablaResultados"));
    tablaResultados->setEditTriggers(QAbstractItemView::NoEditTriggers);
    raiz->addWidget(tablaResultados, 3);
    auto *pie = new QHBoxLayout;
    btnCopiar = new QPushButton(QStringLiteral("Copiar"));
    btnGuardarResultados = new QPushButton(QStringLiteral("Guardar resultados…"));
    pie->addWidget(btnCopiar);
    pie->addWidget(btnGuardarResultados);
    btnSuperponer = new QPushButton(QStringLiteral("Superponer repeticiones"));
    btnSuperponer->setToolTip(QStringLiteral("Muestra en la ventana del escalón las repeticiones de la "
                                             "etapa de la fila elegida, superpuestas en su escalón"));
    pie->addWidget(btnSuperponer);
    pie->addStretch();
    raiz->addLayout(pie);
    resize(600, 620);

    connect(btnAgregar, &QPushButton::clicked, this,
            [this] { agregarFila(Etapa{Etapa::Tipo::escalon, 30, 10000}); });
    connect(btnQuitar, &QPushButton::clicked, this, [this] {
        if (tabla->currentRow() >= 0)
            tabla->removeRow(tabla->currentRow());
    });
    connect(btnAbrir, &QPushButton::clicked, this, [this] {
        const QString ruta = QFileDialog::getOpenFileName(
            this, QStringLiteral("Abrir programa"), carpeta_,
            QStringLiteral("Programas (*.txt);;Todos los archivos (*)"));
        if (ruta.isEmpty())
            return;
        const auto l = programa::leerArchivo(ruta);
        if (!l.programa) {
            lblMensaje->setText(l.errores.join(u'\n'));
            return;
        }
        cargar(*l.programa, ruta);
    });
    connect(btnGuardar, &QPushButton::clicked, this, [this] {
        const auto p = programa();
        if (!p)
            return;
        const QString ruta = QFileDialog::getSaveFileName(
            this, QStringLiteral("Guardar programa"), carpeta_, QStringLiteral("Programas (*.txt)"));
        QString motivo;
        if (!ruta.isEmpty() && !programa::guardarArchivo(ruta, *p, &motivo))
            lblMensaje->setText(QStringLiteral("No se pudo guardar «%1»: %2.").arg(ruta, motivo));
    });
    connect(btnIniciar, &QPushButton::clicked, this, &VentanaPrograma::iniciar);
    connect(btnPausa, &QPushButton::clicked, this, [this] {
        if (ejecutor_.estado() == Ejecutor::Estado::enPausa)
            ejecutor_.reanudar();
        else
            ejecutor_.pausar();
    });
    connect(btnDetener, &QPushButton::clicked, &ejecutor_, &Ejecutor::detener);
    connect(btnCopiar, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(textoResultados()); });
    connect(btnGuardarResultados, &QPushButton::clicked, this, [this] {
        const QString ruta = QFileDialog::getSaveFileName(
            this, QStringLiteral("Guardar resultados"), carpeta_,
            QStringLiteral("Texto separado por tabuladores (*.tsv *.txt *.xls)"));
        if (ruta.isEmpty())
            return;
        QSaveFile f(ruta);
        if (!f.open(QIODevice::WriteOnly) || f.write(textoResultados().toUtf8()) < 0 || !f.commit())
            lblMensaje->setText(QStringLiteral("No se pudo guardar «%1»: %2.").arg(ruta, f.errorString()));
    });
    connect(btnSuperponer, &QPushButton::clicked, this, [this] {
        // The chosen row's stage (a step's or a statistic's: both start with it), else the
        // first «Escalón» stage.
        const int fila = tablaResultados->currentRow();
        const auto &escalones = ejecutor_.escalones();
        int etapa = 0;
        if (fila >= 0 && fila < escalones.size())
            etapa = escalones[fila].etapa;
        else if (fila > escalones.size() && tablaResultados->item(fila, 0))
            etapa = tablaResultados->item(fila, 0)->text().toInt();
        const QList<Etapa> &etapas = ejecutor_.programa().etapas;
        for (qsizetype i = 0; etapa == 0 && i < etapas.size(); ++i)
            if (etapas[i].tipo == Etapa::Tipo::escalon)
                etapa = int(i + 1);
        if (etapa > 0)
            emit superponer(etapa);
    });
    connect(&ejecutor_, &Ejecutor::cambio, this, &VentanaPrograma::actualizar);
    connect(&ejecutor_, &Ejecutor::aviso, lblMensaje, &QLabel::setText);
    connect(&ejecutor_, &Ejecutor::terminado, this, [this] {
        if (ejecutor_.fin() == Ejecutor::Fin::completo || ejecutor_.fin() == Ejecutor::Fin::detenido)
            lblMensaje->setText(ejecutor_.mensajeFin());
    });
    // The time left moves between the program's own events.
    progreso_ = new QTimer(this);
    progreso_->setInterval(250);
    connect(progreso_, &QTimer::timeout, this, &VentanaPrograma::actualizar);
    actualizar();
}

void VentanaPrograma::agregarFila(const Etapa &e)
{
    const int fila = tabla->rowCount();
    tabla->insertRow(fila);
    auto *tipo = new QComboBox;
    for (auto t : {Etapa::Tipo::escalon, Etapa::Tipo::rampa, Etapa::Tipo::mantener})
        tipo->addItem(programa::nombre(t));
    tipo->setCurrentIndex(int(e.tipo));
    tabla->setCellWidget(fila, 0, tipo);
    tabla->setItem(fila, 1, new QTableWidgetItem(e.tipo == Etapa::Tipo::mantener ? QString()
                                                                              : QString::number(e.setPoint)));
    tabla->setItem(fila, 2, new QTableWidgetItem(programa::textoSegundos(e.ms)));
}

void VentanaPrograma::cargar(const Programa &p, const QString &archivo)
{
    tabla->setRowCount(0);
    for (const Etapa &e : p.etapas)
        agregarFila(e);
    spnRepetir->setValue(p.repeticiones);
    txtSuperior->setText(p.limiteSuperior ? QString::number(*p.limiteSuperior) : QString());
    txtInferior->setText(p.limiteInferior ? QString::number(*p.limiteInferior) : QString());
    txtSeguro->setText(p.setPointSeguro ? QString::number(*p.setPointSeguro) : QString());
    spnMuestras->setValue(p.muestrasFuera);
    if (!archivo.isEmpty()) {
        carpeta_ = archivo;
        setWindowTitle(QStringLiteral("Programa %1 - Velmora").arg(QFileInfo(archivo).fileName()));
    }
}

std::optional<Programa> VentanaPrograma::programa()
{
    // Through the file's own reader, row n as line n: one set of rules and messages.
    QStringList lineas;
    for (int f = 0; f < tabla->rowCount(); ++f) {
        const auto *tipo = qobject_cast<QComboBox *>(tabla->cellWidget(f, 0));
        const auto celda = [&](int c) { return tabla->item(f, c) ? tabla->item(f, c)->text().trimmed() : QString(); };
        lineas << (tipo->currentIndex() == int(Etapa::Tipo::mantener)
                       ? QStringLiteral("Mantener %1").arg(celda(2))
                       : QStringLiteral("%1 %2 %3").arg(tipo->currentText(), celda(1), celda(2)));
    }
    lineas << QStringLiteral("Repetir %1").arg(spnRepetir->value())
           << QStringLiteral("Muestras fuera %1").arg(spnMuestras->value());
    if (!txtSuperior->text().trimmed().isEmpty())
        lineas << QStringLiteral("Límite superior %1").arg(txtSuperior->text().trimmed());
    if (!txtInferior->text().trimmed().isEmpty())
        lineas << QStringLiteral("Límite inferior %1").arg(txtInferior->text().trimmed());
    if (!txtSeguro->text().trimmed().isEmpty())
        lineas << QStringLiteral("Set point seguro %1").arg(txtSeguro->text().trimmed());
    auto l = programa::leer(lineas.join(u'\n'));
    if (!l.programa) {
        // Line n of a stage is its row; the settings' lines have boxes of their own.
        for (QString &e : l.errores)
            e.replace(QStringLiteral("Línea "), QStringLiteral("Fila "));
        lblMensaje->setText(l.errores.join(u'\n'));
    }
    return l.programa;
}

void VentanaPrograma::iniciar()
{
    const auto p = programa();
    if (!p)
        return;
    if (!puerto_.PortOpen()) {
        lblMensaje->setText(QStringLiteral("Conecte el puerto antes de iniciar el programa."));
        return;
    }
    lblMensaje->clear();
    ejecutor_.setPrograma(*p);
    ejecutor_.iniciar();
}

void VentanaPrograma::actualizar()
{
    const Ejecutor::Estado estado = ejecutor_.estado();
    const bool parado = estado == Ejecutor::Estado::parado;
    for (QWidget *w : {static_cast<QWidget *>(tabla), static_cast<QWidget *>(spnRepetir),
                       static_cast<QWidget *>(txtSuperior), static_cast<QWidget *>(txtInferior),
                       static_cast<QWidget *>(txtSeguro), static_cast<QWidget *>(spnMuestras),
                       static_cast<QWidget *>(btnAbrir), static_cast<QWidget *>(btnAgregar),
                       static_cast<QWidget *>(btnQuitar), static_cast<QWidget *>(btnIniciar)})
        w->setEnabled(parado);
    btnPausa->setEnabled(!parado);
    btnDetener->setEnabled(!parado);
    btnPausa->setText(estado == Ejecutor::Estado::enPausa ? QStringLiteral("Seguir") : QStringLiteral("Pausa"));
    if (parado) {
        progreso_->stop();
        lblEstado->setText(QStringLiteral("Parado"));
    } else {
        if (!progreso_->isActive())
            progreso_->start();
        const auto total = ejecutor_.total().count();
        const auto falta = ejecutor_.restante();
        barra->setValue(total > 0 ? int(1000 * (total - std::min<long long>(total, falta.count())) / total) : 0);
        lblEstado->setText(QStringLiteral("%1etapa %2 de %3, repetición %4 de %5; quedan %6 de la "
                                          "etapa y %7 del programa")
                               .arg(estado == Ejecutor::Estado::enPausa ? QStringLiteral("En pausa: ") : QString())
                               .arg(ejecutor_.etapa() + 1).arg(ejecutor_.programa().etapas.size())
                               .arg(ejecutor_.repeticion() + 1).arg(ejecutor_.programa().repeticiones)
                               .arg(tiempo(ejecutor_.restanteEtapa()), tiempo(falta)));
    }
    if (tablaResultados->property("mostrados").toInt() != ejecutor_.escalones().size() || parado)
        mostrarResultados();
}

QString VentanaPrograma::textoResultados() const
{
    return resultados::texto(ejecutor_.escalones());
}

void VentanaPrograma::mostrarResultados()
{
    // The same rows as «Copiar» gives, so what is seen is what is pasted.
    QStringList lineas = textoResultados().split(u'\n', Qt::SkipEmptyParts);
    if (ejecutor_.escalones().isEmpty())
        lineas = lineas.mid(0, 1); // no step: no statistics' heading either
    const QStringList cabecera = lineas.value(0).split(u'\t');
    tablaResultados->clear();
    tablaResultados->setColumnCount(int(cabecera.size()));
    tablaResultados->setHorizontalHeaderLabels(cabecera);
    tablaResultados->setRowCount(int(lineas.size()) - 1);
    for (qsizetype f = 1; f < lineas.size(); ++f) {
        const QStringList celdas = lineas[f].split(u'\t');
        // The statistics' own heading, told apart from the steps above it.
        const bool cabeceraResumen = f == ejecutor_.escalones().size() + 1;
        for (qsizetype c = 0; c < celdas.size(); ++c) {
            auto *celda = new QTableWidgetItem(celdas[c]);
            if (cabeceraResumen) {
                QFont negrita = celda->font();
                negrita.setBold(true);
                celda->setFont(negrita);
            }
            tablaResultados->setItem(int(f - 1), int(c), celda);
        }
    }
    tablaResultados->setProperty("mostrados", int(ejecutor_.escalones().size()));
}
