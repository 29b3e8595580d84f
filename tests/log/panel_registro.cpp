// The panel as its own process, with the program's signal handling, for the tests that
// signal or kill it. PUERTO REGISTRO: connected and logging, "listo" once so. With a third
// argument, PUERTO fails and logging is switched on over REGISTRO's records: "abierto" once
// that message and the question are on show.

#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "serial/puertoserie.h"
#include "ui/form1.h"
#include "core/senales.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "uso: panel_registro PUERTO REGISTRO [abierto]\n");
        return 2;
    }
    Form1 f;
    f.show();
    senales::cerrarAlRecibir(f, [&f] { f.close(); });
    f.txtRegistro->setText(QString::fromLocal8Bit(argv[2]));
    f.txtPuerto->setText(QString::fromLocal8Bit(argv[1]));
    if (argc == 4) {
        QTimer mirar;
        QObject::connect(&mirar, &QTimer::timeout, [&] {
            if (f.findChildren<QMessageBox *>().size() == 2)
                std::puts("abierto"), std::fflush(stdout), mirar.stop();
        });
        mirar.start(10);
        QTimer::singleShot(0, [&] {
            QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
            QTest::mouseClick(f.chkRegistrar, Qt::LeftButton); // returns when answered
        });
        return app.exec();
    }
    QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
    if (!f.MSComm1->PortOpen() || !f.chkRegistrar->isChecked())
        return 1;
    std::puts("listo");
    std::fflush(stdout);
    return app.exec();
}
