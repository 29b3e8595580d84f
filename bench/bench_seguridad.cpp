// The safety stop's latency on the real panel: this program is the controller on a
// pseudo-terminal; the panel runs a program whose step drives the value past its upper limit.
// From the write of the sample that makes the count to the safe set point read back here.
//
//   bench_seguridad VELMORA [runs [samples per second]]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

using Reloj = std::chrono::steady_clock;

namespace {

constexpr int limite = 80, seguro = 20, escalon = 90, fuera = 3;

// One run: nullopt-like -1 where the panel never answered.
double medir(const QString &velmora, const QString &programa, double tasa)
{
    int maestro = -1, esclavo = -1;
    char nombre[256] = {};
    if (::openpty(&maestro, &esclavo, nombre, nullptr, nullptr) != 0)
        return -1;
    termios t;
    ::tcgetattr(esclavo, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(esclavo, TCSANOW, &t);
    QProcess panel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    panel.setProcessEnvironment(env);
    panel.start(velmora, {QString::fromLocal8Bit(nombre), "--conectar", "--programa", programa, "--iniciar"});
    panel.waitForStarted();

    const auto periodo = std::chrono::duration_cast<Reloj::duration>(std::chrono::duration<double>(1.0 / tasa));
    auto siguiente = Reloj::now();
    const auto fin = siguiente + std::chrono::seconds(30);
    int setPoint = 30, valor = 30, n = 0, pasados = 0;
    bool subiendo = false;
    Reloj::time_point ofensa{};
    double latencia = -1;
    while (Reloj::now() < fin && latencia < 0) {
        pollfd p{maestro, POLLIN, 0};
        const auto falta = std::chrono::duration_cast<std::chrono::microseconds>(siguiente - Reloj::now());
        // poll's grain is a millisecond: the last stretch is spun so the write is on time.
        if (::poll(&p, 1, falta > std::chrono::milliseconds(2) ? int(falta.count() / 1000) - 1 : 0) > 0
            && (p.revents & POLLIN)) {
            unsigned char buf[64];
            const ssize_t k = ::read(maestro, buf, sizeof buf);
            const auto ahora = Reloj::now();
            for (ssize_t i = 0; i < k; ++i) {
                setPoint = buf[i];
                if (setPoint == escalon && !subiendo) {
                    subiendo = true;
                    valor = limite - 5;
                }
                if (setPoint == seguro && pasados >= fuera)
                    latencia = std::chrono::duration<double, std::milli>(ahora - ofensa).count();
            }
            continue;
        }
        if (Reloj::now() < siguiente)
            continue;
        siguiente += periodo;
        unsigned char b[3];
        int m = 0;
        if (n++ % 10 == 0) { // the controller's report, so --iniciar need not wait
            b[m++] = 255;
            b[m++] = uint8_t(setPoint);
        }
        if (subiendo && valor < 254)
            ++valor;
        b[m++] = uint8_t(valor);
        if (::write(maestro, b, m) != m)
            break;
        if (valor > limite && ++pasados == fuera)
            ofensa = Reloj::now();
    }
    panel.terminate();
    panel.waitForFinished(5000);
    ::close(maestro);
    ::close(esclavo);
    return latencia;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "uso: bench_seguridad VELMORA [pasadas [muestras por segundo]]\n");
        return 2;
    }
    const QString velmora = QString::fromLocal8Bit(argv[1]);
    const int pasadas = argc > 2 ? std::atoi(argv[2]) : 20;
    const double tasa = argc > 3 ? std::atof(argv[3]) : 50;
    QTemporaryDir dir;
    const QString programa = dir.filePath(QStringLiteral("p.txt"));
    FILE *f = std::fopen(programa.toLocal8Bit().constData(), "w");
    std::fprintf(f, "Escalón %d 60\nLímite superior %d\nSet point seguro %d\nMuestras fuera %d\n",
                 escalon, limite, seguro, fuera);
    std::fclose(f);
    std::vector<double> l;
    int sinRespuesta = 0;
    for (int i = 0; i < pasadas; ++i) {
        const double x = medir(velmora, programa, tasa);
        if (x < 0)
            ++sinRespuesta;
        else
            l.push_back(x);
        std::printf("run %2d: %s\n", i + 1, x < 0 ? "no safe set point" : qPrintable(QString::number(x, 'f', 3) + " ms"));
        std::fflush(stdout);
    }
    std::sort(l.begin(), l.end());
    if (!l.empty())
        std::printf("safety stop at %g samples/s, offending sample written to safe set point read, "
                    "%zu runs: median %.3f ms, best %.3f ms, worst %.3f ms%s\n",
                    tasa, l.size(), (l[(l.size() - 1) / 2] + l[l.size() / 2]) / 2, l.front(), l.back(),
                    sinRespuesta ? qPrintable(QStringLiteral(" (%1 runs without it)").arg(sinRespuesta)) : "");
    return sinRespuesta ? 1 : 0;
}
