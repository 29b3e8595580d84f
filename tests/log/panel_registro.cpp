// The panel as its own process, connected to the port given and logging to the file given,
// for the test that kills it mid-run.

#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "serial/puertoserie.h"
#include "ui/form1.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "uso: panel_registro PUERTO REGISTRO\n");
        return 2;
    }
    Form1 f;
    f.show();
    f.txtRegistro->setText(QString::fromLocal8Bit(argv[2]));
    f.txtPuerto->setText(QString::fromLocal8Bit(argv[1]));
    QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
    if (!f.MSComm1->PortOpen() || !f.chkRegistrar->isChecked())
        return 1;
    std::puts("listo");
    std::fflush(stdout);
    return app.exec();
}
