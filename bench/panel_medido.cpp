// The real window, driven the way a person would (type the port, click "Conectar", tick the
// log), measuring its own CPU time, memory and samples received. For the benchmarks, the
// soak run and the README's screenshot; it never becomes an option of the product.

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "chart/graficotendencia.h"
#include "historial/graficohistorial.h"
#include "historial/ventanahistorial.h"
#include "recepcion/adquisicion.h"
#include "serial/puertoserie.h"
#include "ui/avisos.h"
#include "ui/form1.h"
#include "respuesta/ventanarespuesta.h"

namespace {

double cpuSegundos()
{
    rusage uso{};
    getrusage(RUSAGE_SELF, &uso);
    return uso.ru_utime.tv_sec + uso.ru_stime.tv_sec
           + (uso.ru_utime.tv_usec + uso.ru_stime.tv_usec) * 1e-6;
}

long residenteKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &linea : status.readAll().split('\n'))
        if (linea.startsWith("VmRSS:"))
            return linea.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The log in its window, on its last step that ran its full length, the sample at that
// step's peak under the mouse.
bool capturaHistorial(const QString &registro, const QString &png)
{
    VentanaHistorial v(registro);
    v.show();
    if (!QTest::qWaitForWindowExposed(&v) || !QTest::qWaitFor([&] { return v.leido(); }, 20000))
        return false;
    // The samples themselves, read again from the file as the window reads them.
    const DatosHistorial &d = v.datos();
    for (size_t b = 0; b < d.bloques(); ++b)
        if (!QTest::qWaitFor([&] { return v.leerBloque(b); }, 5000))
            return false;
    std::vector<uint64_t> pasos;
    for (uint64_t i = 1; i < d.cuantos(); ++i)
        if (d.muestra(i)->setPoint != d.muestra(i - 1)->setPoint
            && d.muestra(i - 1)->setPoint != DatosHistorial::sinSetPoint)
            pasos.push_back(i);
    if (pasos.size() < 2)
        return false;
    const uint64_t paso = pasos[pasos.size() - 2], fin = pasos.back();
    GraficoHistorial &g = v.grafico();
    const double t = d.muestra(paso)->ms / 1000.0;
    g.xAxis->setRange(t - 1.5, t + 7.5);
    uint64_t pico = paso;
    const auto valor = [&](uint64_t i) { return d.muestra(i)->valor; };
    for (uint64_t i = paso; i < fin; ++i)
        if ((valor(i) > valor(pico)) == (d.muestra(paso)->setPoint > d.muestra(paso - 1)->setPoint)
            && valor(i) != valor(pico))
            pico = i;
    if (!QTest::qWaitFor([&] { return g.exacto(); }, 5000))
        return false;
    const QPointF en(g.xAxis->coordToPixel(d.muestra(pico)->ms / 1000.0), g.yAxis->coordToPixel(valor(pico)));
    QMouseEvent mover(QEvent::MouseMove, en, g.mapToGlobal(en), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&g, &mover);
    QCoreApplication::processEvents();
    return v.grab().save(png);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser p;
    p.addHelpOption();
    p.addOptions({
        {"puerto", "port name to type into «Puerto Serial»", "ruta"},
        {"segundos", "how long to run after connecting (0: until N samples)", "s", "10"},
        {"muestras", "stop once this many samples arrived", "n", "0"},
        {"ancho", "text typed into «Cuántos valores en X»", "n", "512"},
        {"auto", "tick «Auto escala»"},
        {"registro", "log to this file", "ruta"},
        {"destino", "text left in the log box, logging off (for pictures)", "ruta"},
        {"captura", "save a picture of the window at the end", "png"},
        {"captura-respuesta", "open «Respuesta al escalón» and save a picture of it at the end",
         "png"},
        {"milisegundos", "log times with milliseconds"},
        {"captura-historial",
         "at the end, open the log in its window on its last whole step and save a picture of "
         "it", "png"},
        {"informe", "print a line every this many seconds", "s", "0"},
        {"minimizar", "minimise the window once connected"},
    });
    p.process(app);

    Form1 f;
    f.show();
    if (!QTest::qWaitForWindowExposed(&f))
        return 1;
    f.txtAncho->setText(p.value("ancho"));
    if (p.isSet("auto"))
        QTest::mouseClick(f.chkAutoEscala, Qt::LeftButton);
    if (p.isSet("destino"))
        f.txtRegistro->setText(p.value("destino"));
    f.setMilisegundos(p.isSet("milisegundos"));
    if (p.isSet("registro")) {
        f.txtRegistro->setText(p.value("registro"));
        QTest::mouseClick(f.chkRegistrar, Qt::LeftButton);
    }
    f.txtPuerto->setText(p.value("puerto"));
    QTest::mouseClick(f.btnPuerto, Qt::LeftButton);
    if (!f.MSComm1->PortOpen()) {
        QCoreApplication::processEvents();
        std::fprintf(stderr, "no conecta: %s\n", qPrintable(f.avisos().mostrados().join(' ')));
        return 1;
    }

    if (p.isSet("captura-respuesta"))
        f.mostrarRespuestaEscalon();
    if (p.isSet("minimizar"))
        f.showMinimized();
    const double segundos = p.value("segundos").toDouble();
    const qulonglong objetivo = p.value("muestras").toULongLong();
    const double informe = p.value("informe").toDouble();
    const long rssInicio = residenteKiB();
    const double cpuInicio = cpuSegundos();
    const uint64_t framesInicio = f.MSChart1->redibujos();
    QElapsedTimer reloj;
    reloj.start();
    qint64 primera = -1, ultima = -1;
    double siguienteInforme = informe;

    // Waking up costs CPU too: look often only when timing a flood.
    QTimer vigia;
    vigia.setInterval(objetivo > 0 ? 2 : informe > 0 ? 250 : 1000);
    QObject::connect(&vigia, &QTimer::timeout, [&] {
        const uint64_t n = f.adquisicion().muestrasRecibidas();
        if (n > 0 && primera < 0)
            primera = reloj.nsecsElapsed();
        if (objetivo > 0 && n >= objetivo && ultima < 0)
            ultima = reloj.nsecsElapsed();
        const double t = reloj.nsecsElapsed() * 1e-9;
        if (informe > 0 && t >= siguienteInforme) {
            std::printf("t=%.0f s muestras=%llu rss=%ld KiB\n", t, (unsigned long long)n,
                        residenteKiB());
            std::fflush(stdout);
            siguienteInforme += informe;
        }
        if ((objetivo > 0 && ultima >= 0) || (objetivo == 0 && t >= segundos)
            || (segundos > 0 && t >= segundos + (objetivo > 0 ? 60 : 0)))
            app.quit();
    });
    vigia.start();
    app.exec();

    const double tiempo = reloj.nsecsElapsed() * 1e-9;
    const double cpu = cpuSegundos() - cpuInicio;
    const uint64_t frames = f.MSChart1->redibujos() - framesInicio;
    const uint64_t n = f.adquisicion().muestrasRecibidas();
    if (p.isSet("captura"))
        f.grab().save(p.value("captura"));
    if (p.isSet("captura-respuesta"))
        f.ventanaRespuesta->grab().save(p.value("captura-respuesta"));
    f.close(); // closes the log, so every record is on disk when we report
    if (p.isSet("captura-historial") && !capturaHistorial(p.value("registro"),
                                                          p.value("captura-historial")))
        return 1;
    std::printf("muestras=%llu segundos=%.3f cpu_pct=%.2f rss_inicio_kib=%ld rss_fin_kib=%ld",
                (unsigned long long)n, tiempo, 100.0 * cpu / tiempo, rssInicio, residenteKiB());
    if (primera >= 0 && ultima > primera)
        std::printf(" muestras_por_s=%.0f", n / ((ultima - primera) * 1e-9));
    const PuertoSerie::Lecturas lecturas = f.MSComm1->lecturas();
    std::printf(" frames_por_s=%.1f despertares=%llu lecturas_vacias=%llu avisos=%lld\n",
                frames / tiempo, (unsigned long long)lecturas.despertares,
                (unsigned long long)lecturas.vacias, (long long)f.avisos().mostrados().size());
    for (const QString &aviso : f.avisos().mostrados())
        std::fprintf(stderr, "aviso: %s\n", qPrintable(aviso));
    return 0;
}
