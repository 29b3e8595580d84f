#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "chart/graficotendencia.h"
#include "hasta.h"
#include "programa/ejecutor.h"
#include "pseudoterminal.h"
#include "serial/puertoserie.h"
#include "ui/form1.h"
#include "ui/lineaordenes.h"
#include "ui/ventanaprograma.h"
#include "respuesta/ventanarespuesta.h"

class TstVentanaPrograma : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // What the window holds is what «Guardar» writes and --programa reads back.
    void idaYVuelta()
    {
        QRandomGenerator g(3806);
        QTemporaryDir dir;
        Form1 f;
        f.mostrarPrograma();
        VentanaPrograma &v = *f.ventanaPrograma;
        int fallos = 0;
        for (int i = 0; i < 60; ++i) {
            Programa p;
            for (int e = 0, n = 1 + g.bounded(6); e < n; ++e) {
                const auto tipo = Etapa::Tipo(g.bounded(3));
                p.etapas << Etapa{tipo, tipo == Etapa::Tipo::mantener ? 0 : g.bounded(255),
                                  1 + g.bounded(qint64(Programa::maximoMs))};
            }
            p.repeticiones = 1 + g.bounded(1000);
            if (g.bounded(2)) {
                p.limiteInferior = g.bounded(100);
                p.limiteSuperior = 100 + g.bounded(155);
                p.setPointSeguro = g.bounded(101);
                p.muestrasFuera = 1 + g.bounded(1000);
            }
            v.cargar(p);
            const auto leido = v.programa();
            const QString ruta = dir.filePath(QStringLiteral("p%1.txt").arg(i));
            QString motivo;
            lineaordenes::Ordenes o;
            if (!leido || !programa::guardarArchivo(ruta, *leido, &motivo)
                || lineaordenes::leer({"velmora", "--programa", ruta}, o) || !o.programa || !(*o.programa == p))
                ++fallos;
        }
        QCOMPARE(fallos, 0);
    }

    void filaMala()
    {
        Form1 f;
        f.mostrarPrograma();
        VentanaPrograma &v = *f.ventanaPrograma;
        Programa p;
        p.etapas = {{Etapa::Tipo::escalon, 50, 1000}, {Etapa::Tipo::rampa, 60, 1000}};
        v.cargar(p);
        v.tabla->item(1, 2)->setText(QStringLiteral("0"));
        QVERIFY(!v.programa());
        QVERIFY(v.lblMensaje->text().startsWith(QStringLiteral("Fila 2: el tiempo de «Rampa»")));
    }

    void lineaDeOrdenes()
    {
        QTemporaryDir dir;
        const QString malo = dir.filePath(QStringLiteral("m.txt"));
        QFile m(malo);
        QVERIFY(m.open(QIODevice::WriteOnly));
        m.write("Escalón 50\nMantener 2\nSubir\n");
        m.close();
        lineaordenes::Ordenes o;
        const auto s = lineaordenes::leer({"velmora", "--programa", malo}, o);
        QVERIFY(s);
        QCOMPARE(s->codigo, 2);
        QVERIFY(s->texto.contains(QStringLiteral("Línea 1:")) && s->texto.contains(QStringLiteral("Línea 3:")));
        QCOMPARE(lineaordenes::leer({"velmora", "--programa", malo, "--iniciar"}, o)->codigo, 2);
        QVERIFY(lineaordenes::leer({"velmora", "--resultados", "r"}, o));
    }

    // «Guardar resultados…»: the table where the dialog says, or why it could not be.
    void guardarResultados()
    {
        QTemporaryDir dir;
        Form1 f;
        f.mostrarPrograma();
        VentanaPrograma &v = *f.ventanaPrograma;
        const auto guardar = [&](const QString &ruta) {
            QTimer::singleShot(0, &v, [ruta] {
                hasta([] { return qobject_cast<QFileDialog *>(QApplication::activeModalWidget()); }, 5000);
                if (auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                    d->selectFile(ruta);
                    QMetaObject::invokeMethod(d, "accept");
                }
            });
            v.btnGuardarResultados->click();
        };
        const QString bien = dir.filePath(QStringLiteral("r.tsv"));
        guardar(bien);
        QFile r(bien);
        QVERIFY(r.open(QIODevice::ReadOnly));
        QVERIFY(r.readAll().startsWith("Repetición\tEtapa\t"));
        const QString mal = dir.filePath(QStringLiteral("no/hay/r.tsv"));
        guardar(mal);
        QVERIFY2(v.lblMensaje->text().startsWith(QStringLiteral("No se pudo guardar «%1»: ").arg(mal)),
                 qPrintable(v.lblMensaje->text()));
    }

    // The end of a run is said in the window, with what it measured, and its buttons go back.
    void finDicho()
    {
        Pty pty;
        Form1 f;
        f.txtPuerto->setText(pty.ruta());
        f.btnPuerto->click();
        Programa p;
        p.etapas = {{Etapa::Tipo::mantener, 0, 50}};
        f.cargarPrograma(p, QString(), false, QString());
        f.ventanaPrograma->btnIniciar->click();
        QVERIFY(hasta([&] { return f.ejecutor().estado() == Ejecutor::Estado::parado; }));
        QCOMPARE(f.ventanaPrograma->lblMensaje->text(), QStringLiteral("Programa terminado: 0 escalones medidos."));
        QCOMPARE(f.ventanaPrograma->lblEstado->text(), QStringLiteral("Parado"));
        // Nothing left to pause or stop; a new run may start.
        QVERIFY(!f.ventanaPrograma->btnPausa->isEnabled() && !f.ventanaPrograma->btnDetener->isEnabled());
        QVERIFY(f.ventanaPrograma->btnIniciar->isEnabled());
    }

    // «Superponer repeticiones» brings up the step window on the chosen row's stage (a step's
    // or a statistic's), else on the first «Escalón» one; a stage with no step says so.
    void superponerDesdeResultados()
    {
        Pty pty;
        Form1 f;
        f.txtPuerto->setText(pty.ruta());
        f.btnPuerto->click();
        Programa p;
        // The second stage goes to the set point in force: no step. Over a second apart, so
        // no send is the one before corrected.
        p.etapas = {{Etapa::Tipo::escalon, 40, 1100}, {Etapa::Tipo::escalon, 40, 100}, {Etapa::Tipo::escalon, 20, 1100}};
        p.repeticiones = 2;
        f.cargarPrograma(p, QString(), false, QString());
        f.ventanaPrograma->btnIniciar->click();
        QVERIFY(hasta([&] { return pty.escribir(bytes({30})) && f.ejecutor().estado() == Ejecutor::Estado::parado; }));
        QVERIFY(f.ejecutor().escalones().size() >= 3);
        VentanaPrograma &v = *f.ventanaPrograma;
        const int filas = v.tablaResultados->rowCount();
        // No row, a step of stage 3, the statistics' heading, stage 3's last statistic.
        const QList<std::pair<int, int>> casos{{-1, 1}, {int(f.ejecutor().escalones().size()) - 1, 3},
                                               {int(f.ejecutor().escalones().size()), 1}, {filas - 1, 3}};
        for (const auto &[fila, etapa] : casos) {
            v.tablaResultados->setCurrentCell(fila, fila < 0 ? -1 : 0);
            v.btnSuperponer->click();
            QVERIFY(f.ventanaRespuesta && f.ventanaRespuesta->isVisible());
            QCOMPARE(f.ventanaRespuesta->superpuesta(), etapa);
            QCOMPARE(f.ventanaRespuesta->findChild<QComboBox *>(QStringLiteral("cmbSuperponer"))->currentData(), etapa);
        }
        f.ventanaRespuesta->superponer(2);
        QCOMPARE(f.ventanaRespuesta->findChild<QLabel *>(QStringLiteral("lblEstado"))->text(),
                 QStringLiteral("Etapa 2 (Escalón 40): ninguna repetición ha dado aún un escalón "
                                "medido; no hay nada que superponer."));
    }

    // Closing during a run asks and keeps the panel; the system's close stops the run and
    // writes its results. The stage is on the trend meanwhile.
    void cerrarDuranteUnPrograma()
    {
        QTemporaryDir dir;
        Pty pty;
        Form1 f;
        f.txtPuerto->setText(pty.ruta());
        f.btnPuerto->click();
        QVERIFY(f.MSComm1->PortOpen());
        f.show();
        const QString resultados = dir.filePath(QStringLiteral("r.tsv"));
        Programa p;
        p.etapas = {{Etapa::Tipo::escalon, 40, 100000}};
        p.repeticiones = 2;
        f.cargarPrograma(p, QString(), false, resultados);
        f.ventanaPrograma->btnIniciar->click();
        QCOMPARE(f.ejecutor().estado(), Ejecutor::Estado::enMarcha);
        QByteArray salido;
        hasta([&] { return (salido += pty.leer()).size() > 0; }, 2000);
        QCOMPARE(salido, QByteArray(1, char(40)));
        QCOMPARE(f.MSChart1->etapa(), QStringLiteral("Programa: etapa 1 de 1, Escalón 40, repetición 1 de 2"));
        f.close();
        QVERIFY(f.isVisible());
        auto *pregunta = f.findChild<QMessageBox *>(QStringLiteral("preguntaPrograma"));
        QVERIFY(pregunta && pregunta->isVisible());
        QCOMPARE(f.ejecutor().estado(), Ejecutor::Estado::enMarcha);
        f.cerrarSinPreguntar();
        QCOMPARE(f.ventanaPrograma->lblMensaje->text(), QStringLiteral("Programa detenido en la etapa 1, repetición 1."));
        QVERIFY(!f.isVisible());
        QCOMPARE(f.ejecutor().fin(), Ejecutor::Fin::detenido);
        QVERIFY(QFile::exists(resultados));
        QCOMPARE(f.MSChart1->etapa(), QString());
    }
};

QTEST_MAIN(TstVentanaPrograma)
#include "tst_ventanaprograma.moc"
