#include <QApplication>

#include "ui/form1.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Form1 ventana;
    ventana.show();
    return app.exec();
}
