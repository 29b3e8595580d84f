// Opening a long log: writes one (a loop stepped every minute at 580 samples/s, the line
// rate, times with milliseconds, as the panel logs them), then opens it in the log window in
// a fresh process a run: the time to the window on screen and to the whole-file view,
// resident memory, each wheel or drag frame down to a one-second stretch on a step (and the
// time until that stretch is drawn from its samples, read again from the file), and that
// step's figures beside those of the samples as the live panel timed them. Prints median and
// range over the runs; asserts nothing.
// Usage: bench_historial [runs, default 3] [lines, default 50000000] [file]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QWheelEvent>

#include "escalon/respuestaescalon.h"
#include "historial/graficohistorial.h"
#include "historial/ventanahistorial.h"
#include "log/formatofecha.h"
#include "respuesta/ventanarespuesta.h"

namespace {

constexpr int64_t inicioMs = 1765200000000; // 8/12/2025 13:20 UTC
constexpr double paso = 1.0 / 580;         // s between samples
constexpr int muestrasEscalon = 580 * 60;

// The loop: a first-order response with a time constant of 0.4 s, set point 20 and 60 in
// turns of a minute, and one sample in the file that jumps to 254.
int valor(int i, double &y)
{
    const int sp = (i / muestrasEscalon) % 2 ? 60 : 20;
    y += (sp - y) * (1 - std::exp(-paso / 0.4));
    return i == 12345678 ? 254 : int(std::lround(y));
}
int setPoint(int i) { return (i / muestrasEscalon) % 2 ? 60 : 20; }
int64_t instanteUs(int i) { return inicioMs * 1000 + int64_t(std::llround(i * paso * 1e6)); }

void generar(const QString &ruta, int lineas)
{
    std::ofstream f(ruta.toStdString(), std::ios::binary);
    FormatoFecha formato;
    char linea[128];
    double y = 20;
    for (int i = 0; i < lineas; ++i) {
        char *p = linea + formato.escribir(instanteUs(i) / 1000, true, linea);
        p += std::snprintf(p, 32, "\t%d\t%d\r\n", setPoint(i), valor(i, y));
        f.write(linea, p - linea);
    }
}

long kib(const char *campo)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &l : f.readAll().split('\n'))
        if (l.startsWith(campo))
            return l.mid(int(std::strlen(campo))).trimmed().split(' ').first().toLong();
    return -1;
}

double mediana(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One run: prints name=value pairs.
int una(const QString &ruta, int lineas)
{
    QElapsedTimer reloj;
    reloj.start();
    VentanaHistorial v(ruta);
    v.resize(1000, 560);
    v.show();
    QCoreApplication::processEvents();
    const double ventana = reloj.nsecsElapsed() / 1e6;
    bool listo = false;
    QObject::connect(&v, &VentanaHistorial::cargado, [&] { listo = true; });
    while (!listo)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double abrir = reloj.nsecsElapsed() / 1e6;
    const long rss = kib("VmRSS:");

    // The wheel, on the third step of the file, until one second is on show; then drags.
    GraficoHistorial &g = v.grafico();
    const int paso3 = 3 * muestrasEscalon;
    const double tPaso = instanteUs(paso3) / 1e6;
    std::vector<double> fotogramas;
    const auto medir = [&](QEvent &e) {
        QElapsedTimer t;
        t.start();
        QApplication::sendEvent(&g, &e);
        fotogramas.push_back(t.nsecsElapsed() / 1e6);
    };
    const auto arrastrar = [&](QPointF a, QPointF b) {
        QMouseEvent pulsar(QEvent::MouseButtonPress, a, g.mapToGlobal(a), Qt::LeftButton,
                           Qt::LeftButton, Qt::NoModifier);
        QMouseEvent mover(QEvent::MouseMove, b, g.mapToGlobal(b), Qt::NoButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent soltar(QEvent::MouseButtonRelease, b, g.mapToGlobal(b), Qt::LeftButton,
                           Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&g, &pulsar);
        medir(mover);
        QApplication::sendEvent(&g, &soltar);
    };
    // Drags over the whole file, the last one bringing the step to the middle.
    const double medio = g.axisRect()->center().x();
    for (int i = 0; i < 20; ++i)
        arrastrar({medio, 200}, {medio + (i % 2 ? -50 : 50), 200});
    arrastrar({g.xAxis->coordToPixel(tPaso), 200}, {medio, 200});
    // Then the wheel, aimed just after the step, until one second is on show.
    int ruedas = 0;
    while (g.xAxis->range().size() > 1.0 && ruedas < 500) {
        const QPointF en(g.xAxis->coordToPixel(tPaso + 0.2), 200);
        QWheelEvent rueda(en, g.mapToGlobal(en), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        medir(rueda);
        ++ruedas;
    }
    // The one second put on the step (the wheel's centre is the mouse's whole pixel).
    g.xAxis->setRange(tPaso - 0.3, tPaso + 0.7);
    QElapsedTimer exacto;
    exacto.start();
    while (!g.exacto() && exacto.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double msExacto = exacto.nsecsElapsed() / 1e6;
    QString motivo = v.medirEscalonEnVista();
    // The step's samples are read again from the file, up to the next step.
    while (motivo.isEmpty() && v.avisoEscalon().isEmpty()
           && (!v.respuesta() || v.respuesta()->registro().muestras() < muestrasEscalon))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    motivo += v.avisoEscalon();
    std::printf("vista_desde_paso_s=%.3f vista_hasta_paso_s=%.3f\n", g.xAxis->range().lower - tPaso,
                g.xAxis->range().upper - tPaso);
    if (v.ventanaRespuesta() && motivo.isEmpty()) {
        // The figures through the window's own analysis: what its table shows.
        const QStringList fila = v.ventanaRespuesta()->textoTabla().split(u'\n').value(1).split(u'\t');
        std::printf("tabla_historial=%s\n", qPrintable(fila.mid(0, 9).join(u'|')));
    } else {
        std::printf("motivo=%s\n", qPrintable(motivo));
    }
    // The live panel's figures: the same samples at the times it gave them, to the µs.
    RespuestaEscalon vivo;
    double y = 20;
    for (int i = 0; i < std::min(lineas, 4 * muestrasEscalon); ++i) {
        const int dato = valor(i, y);
        if (i >= 2 * muestrasEscalon && i < 4 * muestrasEscalon)
            vivo.agregar(Reloj::Instante(std::chrono::microseconds(instanteUs(i))), int16_t(dato),
                         int16_t(setPoint(i)));
    }
    const RespuestaEscalon::Figuras f = vivo.actual();
    std::printf("vivo_subida=%.2f vivo_final=%.1f vivo_establecimiento=%.2f\n",
                f.subida.value_or(-1), f.valorFinal.value_or(-1), f.establecimiento.value_or(-1));
    std::printf("ventana_ms=%.0f abrir_ms=%.0f rss_kib=%ld pico_kib=%ld muestras=%llu bloques=%zu "
                "ruedas=%d fotograma_mediana_ms=%.2f fotograma_max_ms=%.2f exacto_ms=%.1f "
                "vista_s=%.3f rss_final_kib=%ld\n",
                ventana, abrir, rss, kib("VmHWM:"), (unsigned long long)v.datos().cuantos(),
                v.datos().bloques(), ruedas, mediana(fotogramas),
                *std::max_element(fotogramas.begin(), fotogramas.end()), msExacto,
                g.xAxis->range().size(), kib("VmRSS:"));
    return 0;
}

double campo(const QString &salida, const QString &nombre)
{
    const qsizetype i = salida.indexOf(nombre + u'=');
    return i < 0 ? NAN : salida.mid(i + nombre.size() + 1).section(u' ', 0, 0).section(u'\n', 0, 0).toDouble();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.value(1) == QStringLiteral("--una"))
        return una(a.value(2), a.value(3).toInt());
    const int corridas = a.size() > 1 ? a.value(1).toInt() : 3;
    const int lineas = a.size() > 2 ? a.value(2).toInt() : 50000000;
    const QString ruta = a.value(3, QStringLiteral("/tmp/bench_historial.xls"));
    QElapsedTimer reloj;
    reloj.start();
    generar(ruta, lineas);
    std::printf("%d lines, %.0f MB, written in %.1f s: %s\n", lineas,
                QFile(ruta).size() / 1e6, reloj.elapsed() / 1000.0, qPrintable(ruta));
    std::map<QString, std::vector<double>> cifras;
    const QStringList nombres{"ventana_ms", "abrir_ms", "rss_kib", "pico_kib",
                              "fotograma_mediana_ms", "fotograma_max_ms", "exacto_ms",
                              "rss_final_kib"};
    for (int c = 0; c < corridas; ++c) {
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--una"), ruta, QString::number(lineas)});
        p.waitForFinished(-1);
        const QString salida = QString::fromUtf8(p.readAllStandardOutput());
        std::printf("run %d: %s", c + 1, qPrintable(salida));
        for (const QString &n : nombres)
            cifras[n].push_back(campo(salida, n));
    }
    for (const QString &n : nombres) {
        auto &v = cifras[n];
        std::printf("%-22s median %.2f (%.2f-%.2f)\n", qPrintable(n), mediana(v),
                    *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    }
    return 0;
}
