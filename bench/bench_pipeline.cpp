// Throughput of the receive pipeline on the real window (offscreen), and the cost of one
// chart redraw. Prints figures; asserts nothing.

#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "chart/graficotendencia.h"
#include "recepcion/adquisicion.h"
#include "ui/form1.h"

namespace {

constexpr int tamanoEvento = 4096;

double muestrasPorSegundo(Form1 &f, double segundos)
{
    QByteArray chunk(tamanoEvento, Qt::Uninitialized);
    for (int i = 0; i < tamanoEvento; ++i)
        chunk[i] = char(i % 255);
    QElapsedTimer reloj;
    reloj.start();
    long long muestras = 0;
    while (reloj.nsecsElapsed() < segundos * 1e9) {
        for (int k = 0; k < 64; ++k)
            f.adquisicion().procesarEntrada(evento::comEvReceive, chunk);
        muestras += 64LL * tamanoEvento;
    }
    return muestras / (reloj.nsecsElapsed() * 1e-9);
}

double msPorRedibujo(Form1 &f, int veces)
{
    QByteArray chunk(97, 42);
    QElapsedTimer reloj;
    qint64 total = 0;
    for (int i = 0; i < veces; ++i) {
        chunk[0] = char(i % 200); // new data each frame, as when samples arrive
        f.adquisicion().procesarEntrada(evento::comEvReceive, chunk);
        reloj.start();
        f.MSChart1->redibujar();
        total += reloj.nsecsElapsed();
    }
    return total / 1e6 / veces;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double segundos = argc > 1 ? std::atof(argv[1]) : 2.0;
    QTemporaryDir dir;

    std::printf("%-28s %12s %12s\n", "", "512 puntos", "32766 puntos");
    double fila[3][2] = {};
    for (int j = 0; j < 2; ++j) {
        const char *puntos = j == 0 ? "512" : "32766";
        for (int registrar = 0; registrar < 2; ++registrar) {
            Form1 f;
            f.txtAncho->setText(QString::fromLatin1(puntos));
            if (registrar) {
                // A new file each time: logging onto old records would ask about them.
                f.txtRegistro->setText(dir.filePath(QStringLiteral("bench%1.xls").arg(j)));
                QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
            }
            fila[registrar][j] = muestrasPorSegundo(f, segundos);
            if (registrar)
                QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
        }
        Form1 f;
        f.resize(Form1::anchoCliente, Form1::altoCliente);
        f.show();
        f.txtAncho->setText(QString::fromLatin1(puntos));
        f.chkAutoEscala->click();
        fila[2][j] = msPorRedibujo(f, 200);
    }
    std::printf("%-28s %12.0f %12.0f\n", "muestras/s, sin registro", fila[0][0], fila[0][1]);
    std::printf("%-28s %12.0f %12.0f\n", "muestras/s, con registro", fila[1][0], fila[1][1]);
    std::printf("%-28s %12.3f %12.3f\n", "ms por redibujo (auto)", fila[2][0], fila[2][1]);
    return 0;
}
