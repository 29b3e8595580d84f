// A stand-in for the PID controller at the far end of the serial line: a pseudo-terminal
// whose slave end the panel opens like any serial port.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t terminar = 0;

void alSenal(int) { terminar = 1; }

struct Opciones
{
    std::string enlace = "/tmp/velmora-controlador";
    double tasa = 10.0;             // samples per second, controller mode
    // Inside the panel's default Y axis (0 to 50) with room for the overshoot.
    int setPoint = 30;
    int setPointAlterno = 20;       // controller mode: switch to this and back; -1: never
    double periodoAlterno = 20.0;   // seconds between switches
    std::string reproducir;         // replay mode: "10,255,40|12"
    int pausaMs = 200;              // pause at each '|'
    long long inundar = -1;         // flood mode: how many samples
    double bytesPorSegundo = 0.0;   // flood pace; 0 = as fast as the line takes them
    int bloque = 4096;              // flood write size
    int muestrasPorEscritura = 1;   // controller mode: samples handed over together
    int esperaMs = 0;               // before replay or flood starts
    double seno = 0.0;              // flood as a full-scale sine of this period (samples)
    bool salirAlTerminar = false;   // exit once a replay or flood is written
    double zeta = 0.0, wn = 0.0;    // controller mode: a known second-order plant; wn 0: none
    double ruido = -1.0;            // Gaussian noise, counts; -1: the plant's own (0.6, or 0)
    double ruidoUniforme = 0.0;     // uniform noise, ± counts
    double gananciaP = 0.0;         // second order under a proportional-only loop; 0: none
    double retardo = 0.0;           // dead time of the second-order plant, seconds
    double acelerar = 1.0;          // plant time per second of the clock
    double tau1 = 0.0;              // controller mode: a first-order plant's time constant; 0: none
    double gananciaPlanta = 1.0;    // the known plants settle at this times the set point
};

void ayuda()
{
    std::puts(
        "Uso: velmora-simulador [opciones]\n"
        "Simula el controlador PID al otro lado del puerto serial. Crea un pseudoterminal y lo\n"
        "publica como enlace simbólico; escriba esa ruta en «Puerto Serial» y pulse «Conectar».\n"
        "Solo para sistemas POSIX (Linux, BSD, macOS): Windows no tiene pseudoterminales.\n"
        "\n"
        "  --enlace RUTA          ruta del enlace (por defecto /tmp/velmora-controlador)\n"
        "  --tasa N               muestras por segundo del controlador (por defecto 10)\n"
        "  --setpoint V           set point inicial, 0 a 254 (por defecto 30)\n"
        "  --alternar V           alterna el set point entre el inicial y V (por defecto 20;\n"
        "                         -1, set point fijo)\n"
        "  --periodo S            segundos de reloj entre cambios de --alternar (por defecto\n"
        "                         20); con --acelerar F, la planta avanza F·S entre ellos\n"
        "  --reproducir SEC       envía los bytes SEC (\"10,255,40|12\"); cada '|' es una pausa\n"
        "  --pausa MS             duración de cada pausa de --reproducir (por defecto 200)\n"
        "  --inundar N            envía N muestras (i mod 255, i = 0, 1, ...) lo antes posible\n"
        "  --bytes-por-segundo R  ritmo de --inundar (por defecto, sin límite)\n"
        "  --bloque B             bytes por escritura de --inundar (por defecto 4096)\n"
        "  --por-escritura N      el controlador entrega sus muestras de N en N, como un\n"
        "                         adaptador USB que las junta en un paquete (por defecto 1)\n"
        "  --seno P               --inundar envía un seno de 0 a 254 de P muestras de periodo\n"
        "  --espera MS            espera antes de --reproducir o --inundar (por defecto 0)\n"
        "  --salir                termina al acabar --reproducir o --inundar\n"
        "  --planta-2o Z,W        el valor sigue (sin ruido si no se pide) a una planta de\n"
        "                         segundo orden y'' + 2·Z·W·y' + W²·y = W²·r (Z\n"
        "                         amortiguamiento, W frecuencia natural en rad/s) que\n"
        "                         responde a cada cambio de set point r; empieza en el\n"
        "                         set point inicial\n"
        "  --solo-p K             con --planta-2o, lazo solo proporcional de ganancia K: el\n"
        "                         valor se establece en K/(1+K) del set point (desvío\n"
        "                         permanente r/(1+K))\n"
        "  --retardo S            tiempo muerto: la planta ve cada cambio de set point S\n"
        "                         segundos después\n"
        "  --ruido S              ruido gaussiano de desviación S cuentas (por defecto 0,6\n"
        "                         con la planta PI, 0 con --planta-2o)\n"
        "  --ruido-uniforme A     ruido uniforme de ± A cuentas, sumado al anterior\n"
        "  --acelerar F           la planta avanza F segundos por segundo de reloj (pruebas)\n"
        "  --planta-1o T          el valor sigue a una planta de primer orden de constante de\n"
        "                         tiempo T segundos (decenas para una planta lenta), sin\n"
        "                         ruido si no se pide; acepta --retardo y --ganancia\n"
        "  --ganancia G           con --planta-1o o --planta-2o, la planta se establece en G\n"
        "                         veces el set point; lo que pase de 254 (o baje de 0) se\n"
        "                         satura ahí, como en un controlador de 8 bits\n"
        "  --help                 esta ayuda\n"
        "\n"
        "En modo controlador, cada byte 0 a 100 que llega por el puerto es el nuevo set point;\n"
        "el controlador informa de su set point (255 y el valor) al empezar, al cambiar y cada\n"
        "50 muestras. Termina con SIGINT o SIGTERM y borra el enlace.");
}

bool leerOpciones(int argc, char **argv, Opciones &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            ayuda();
            std::exit(0);
        }
        if (a == "--salir") {
            o.salirAlTerminar = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "Falta el valor de %s\n", a.c_str());
            return false;
        }
        const std::string v = argv[++i];
        if (a == "--enlace") o.enlace = v;
        else if (a == "--tasa") o.tasa = std::atof(v.c_str());
        else if (a == "--setpoint") o.setPoint = std::atoi(v.c_str());
        else if (a == "--alternar") o.setPointAlterno = std::atoi(v.c_str());
        else if (a == "--periodo") o.periodoAlterno = std::atof(v.c_str());
        else if (a == "--reproducir") o.reproducir = v;
        else if (a == "--pausa") o.pausaMs = std::atoi(v.c_str());
        else if (a == "--inundar") o.inundar = std::atoll(v.c_str());
        else if (a == "--bytes-por-segundo") o.bytesPorSegundo = std::atof(v.c_str());
        else if (a == "--bloque") o.bloque = std::max(1, std::atoi(v.c_str()));
        else if (a == "--por-escritura") o.muestrasPorEscritura = std::atoi(v.c_str());
        else if (a == "--espera") o.esperaMs = std::atoi(v.c_str());
        else if (a == "--seno") o.seno = std::atof(v.c_str());
        else if (a == "--solo-p") o.gananciaP = std::atof(v.c_str());
        else if (a == "--retardo") o.retardo = std::atof(v.c_str());
        else if (a == "--ruido") {
            // -1 stands for the plant's own noise inside; typed, any negative is a mistake.
            o.ruido = std::atof(v.c_str());
            if (o.ruido < 0.0) {
                std::fprintf(stderr, "--ruido no puede ser negativo\n");
                return false;
            }
        }
        else if (a == "--ruido-uniforme") o.ruidoUniforme = std::atof(v.c_str());
        else if (a == "--acelerar") o.acelerar = std::atof(v.c_str());
        else if (a == "--planta-1o") o.tau1 = std::atof(v.c_str());
        else if (a == "--ganancia") o.gananciaPlanta = std::atof(v.c_str());
        else if (a == "--planta-2o") {
            char *fin = nullptr;
            o.zeta = std::strtod(v.c_str(), &fin);
            o.wn = *fin == ',' ? std::strtod(fin + 1, &fin) : 0.0;
            if (*fin != '\0' || o.zeta <= 0.0 || o.wn <= 0.0) {
                std::fprintf(stderr, "--planta-2o espera Z,W, ambos mayores que 0\n");
                return false;
            }
        }
        else {
            std::fprintf(stderr, "Opción desconocida: %s (vea --help)\n", a.c_str());
            return false;
        }
    }
    if (o.gananciaP > 0.0 && o.wn <= 0.0) {
        std::fprintf(stderr, "--solo-p solo tiene sentido con --planta-2o\n");
        return false;
    }
    if (o.tasa <= 0.0 || o.setPoint < 0 || o.setPoint > 254 || o.setPointAlterno > 254
        || o.periodoAlterno <= 0.0 || o.muestrasPorEscritura < 1 || o.muestrasPorEscritura > 4096
        || o.gananciaP < 0.0 || o.retardo < 0.0
        || o.ruidoUniforme < 0.0 || o.acelerar <= 0.0 || o.tau1 < 0.0 || o.gananciaPlanta <= 0.0
        || (o.tau1 > 0.0 && o.wn > 0.0)
        || (o.ruido < 0.0 && o.ruido != -1.0)) {
        std::fprintf(stderr, "Valores fuera de rango (vea --help)\n");
        return false;
    }
    return true;
}

// Writes all of `datos`, waiting for room; false if asked to stop or the line failed.
bool escribirTodo(int fd, const uint8_t *datos, size_t n)
{
    while (n > 0 && !terminar) {
        const ssize_t k = ::write(fd, datos, n);
        if (k > 0) {
            datos += k;
            n -= size_t(k);
            continue;
        }
        if (k < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    return n == 0;
}

void dormirMs(int ms)
{
    for (int i = 0; i < ms / 10 && !terminar; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool reproducir(int maestro, const Opciones &o)
{
    std::vector<uint8_t> tramo;
    std::string numero;
    auto cerrarNumero = [&] {
        if (!numero.empty())
            tramo.push_back(uint8_t(std::atoi(numero.c_str()) & 0xFF));
        numero.clear();
    };
    for (char c : o.reproducir + "|") {
        if (c == ',' || c == ' ') {
            cerrarNumero();
        } else if (c == '|') {
            cerrarNumero();
            if (!tramo.empty() && !escribirTodo(maestro, tramo.data(), tramo.size()))
                return false;
            tramo.clear();
            dormirMs(o.pausaMs);
        } else {
            numero += c;
        }
    }
    return true;
}

bool inundar(int maestro, const Opciones &o)
{
    std::vector<uint8_t> bloque(size_t(o.bloque));
    long long enviados = 0;
    const auto inicio = std::chrono::steady_clock::now();
    while (enviados < o.inundar && !terminar) {
        const size_t n = size_t(std::min<long long>(o.bloque, o.inundar - enviados));
        for (size_t i = 0; i < n; ++i) {
            const long long k = enviados + (long long)i;
            bloque[i] = o.seno > 0
                            ? uint8_t(std::lround(127.0 + 127.0 * std::sin(2 * M_PI * double(k) / o.seno)))
                            : uint8_t(k % 255);
        }
        if (o.bytesPorSegundo > 0) {
            const auto cuando = inicio + std::chrono::duration<double>(enviados / o.bytesPorSegundo);
            std::this_thread::sleep_until(cuando);
        }
        if (!escribirTodo(maestro, bloque.data(), n))
            return false;
        enviados += (long long)n;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
    std::fprintf(stderr, "Enviadas %lld muestras en %.3f s\n", enviados, s);
    return enviados == o.inundar;
}

// A first-order plant under a PI loop, sampled at the controller's rate; or, with
// --planta-2o, a second-order plant whose step response is known in closed form, with the
// offset of a proportional-only loop and a dead time if asked for, noiseless unless asked.
class Planta
{
public:
    explicit Planta(const Opciones &o)
        : setPoint_(o.setPoint), referencia_(o.setPoint), zeta_(o.zeta), wn_(o.wn),
          tau1_(o.tau1),
          ganancia_((o.gananciaP > 0 ? o.gananciaP / (1.0 + o.gananciaP) : 1.0) * o.gananciaPlanta),
          retardo_(o.retardo),
          y_(o.wn > 0 || o.tau1 > 0 ? ganancia_ * o.setPoint : 0.0),
          ruido_(0.0, o.ruido >= 0 ? o.ruido : o.wn > 0 || o.tau1 > 0 ? 0.0 : 0.6),
          uniforme_(-o.ruidoUniforme, o.ruidoUniforme)
    {
    }
    int setPoint() const { return setPoint_; }
    // The plant sees it a dead time later.
    void setSetPoint(int v)
    {
        setPoint_ = v;
        pendientes_.push_back({ahora_ + retardo_, v});
    }

    // The value now, then the plant moves on by dt: the sample that first carries a new set
    // point is taken at the step's start, as the closed form has it.
    uint8_t muestra(double dt)
    {
        while (!pendientes_.empty() && pendientes_.front().first <= ahora_ + 1e-9) {
            referencia_ = pendientes_.front().second;
            pendientes_.pop_front();
        }
        ahora_ += dt;
        const double perturbacion = (ruido_.stddev() > 0 ? ruido_(azar_) : 0.0)
                                    + (uniforme_.b() > 0 ? uniforme_(azar_) : 0.0);
        if (wn_ > 0 || tau1_ > 0) {
            const double medida = y_ + perturbacion;
            if (wn_ > 0)
                segundoOrden(dt);
            else // exact for a set point held over the step
                y_ += -std::expm1(-dt / tau1_) * (ganancia_ * referencia_ - y_);
            return uint8_t(std::clamp(std::lround(medida), 0L, 254L));
        }
        const double error = referencia_ - y_;
        integral_ = std::clamp(integral_ + error * dt, -400.0, 400.0);
        const double u = std::clamp(kp * error + ki * integral_, 0.0, 254.0);
        y_ += dt / tau * (u - y_);
        const double medida = y_ + perturbacion;
        return uint8_t(std::clamp(std::lround(medida), 0L, 254L));
    }

private:
    // Runge-Kutta in steps of at most 1 ms, far finer than the plant's time constants, so
    // samples at any rate fall on the analytic response.
    void segundoOrden(double dt)
    {
        const int pasos = std::max(1, int(std::ceil(dt / 0.001)));
        const double h = dt / pasos;
        const double r = ganancia_ * referencia_;
        const auto a = [&](double y, double v) {
            return wn_ * wn_ * (r - y) - 2.0 * zeta_ * wn_ * v;
        };
        for (int i = 0; i < pasos; ++i) {
            const double k1y = v_, k1v = a(y_, v_);
            const double k2y = v_ + h / 2 * k1v, k2v = a(y_ + h / 2 * k1y, v_ + h / 2 * k1v);
            const double k3y = v_ + h / 2 * k2v, k3v = a(y_ + h / 2 * k2y, v_ + h / 2 * k2v);
            const double k4y = v_ + h * k3v, k4v = a(y_ + h * k3y, v_ + h * k3v);
            y_ += h / 6 * (k1y + 2 * k2y + 2 * k3y + k4y);
            v_ += h / 6 * (k1v + 2 * k2v + 2 * k3v + k4v);
        }
    }

    static constexpr double kp = 1.2, ki = 0.9, tau = 2.5;
    int setPoint_;   // the last one commanded, which the controller reports
    int referencia_; // the one the plant follows
    double zeta_, wn_, tau1_, ganancia_, retardo_;
    double y_, v_ = 0.0, integral_ = 0.0;
    double ahora_ = 0.0;
    std::deque<std::pair<double, int>> pendientes_;
    std::mt19937 azar_{12345};
    std::normal_distribution<double> ruido_;
    std::uniform_real_distribution<double> uniforme_;
};

void controlador(int maestro, int esclavo, const Opciones &o)
{
    Planta planta(o);
    const auto periodo = std::chrono::duration<double>(1.0 / o.tasa);
    auto siguiente = std::chrono::steady_clock::now();
    long long n = 0;
    bool informar = true;
    std::vector<uint8_t> salida;
    salida.reserve(3 * size_t(o.muestrasPorEscritura));
    while (!terminar) {
        // Set points sent by the panel.
        pollfd p{maestro, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            uint8_t entrada[64];
            const ssize_t k = ::read(maestro, entrada, sizeof entrada);
            if (k <= 0)
                break;
            for (ssize_t i = 0; i < k; ++i)
                if (entrada[i] <= 100 && entrada[i] != planta.setPoint()) {
                    planta.setSetPoint(entrada[i]);
                    informar = true;
                }
        }
        // Nobody listening: a real line just loses the bytes, it does not store them. A panel
        // that is listening may leave up to a frame's worth waiting (192 bytes at the line
        // rate), so only what no reader would leave that long counts as nobody.
        int pendientes = 0;
        if (::ioctl(esclavo, FIONREAD, &pendientes) == 0 && pendientes > 2048)
            ::tcflush(esclavo, TCIFLUSH);

        if (o.setPointAlterno >= 0 && n > 0
            && n % std::max(1LL, std::llround(o.periodoAlterno * o.tasa)) == 0) {
            planta.setSetPoint(planta.setPoint() == o.setPoint ? o.setPointAlterno : o.setPoint);
            informar = true;
        }

        if (informar || n % 50 == 0) {
            salida.push_back(255);
            salida.push_back(uint8_t(planta.setPoint()));
            informar = false;
        }
        salida.push_back(planta.muestra(periodo.count() * o.acelerar));
        ++n;
        siguiente += std::chrono::duration_cast<std::chrono::steady_clock::duration>(periodo);
        // A packet goes when it holds its samples; the wait then covers them all.
        if (n % o.muestrasPorEscritura != 0)
            continue;
        escribirTodo(maestro, salida.data(), salida.size());
        salida.clear();
        while (!terminar && std::chrono::steady_clock::now() < siguiente)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                siguiente - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
    }
}

} // namespace

int main(int argc, char **argv)
{
    Opciones o;
    if (!leerOpciones(argc, argv, o))
        return 2;

    int maestro = -1, esclavo = -1;
    char nombre[256] = {};
    if (::openpty(&maestro, &esclavo, nombre, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    // Raw from the start: no echo back to the controller, no line editing, byte 0 and 255 intact.
    termios t;
    ::tcgetattr(esclavo, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(esclavo, TCSANOW, &t);
    ::fcntl(maestro, F_SETFL, ::fcntl(maestro, F_GETFL) | O_NONBLOCK);

    ::unlink(o.enlace.c_str());
    if (::symlink(nombre, o.enlace.c_str()) != 0) {
        std::fprintf(stderr, "No se puede crear el enlace %s: %s\n", o.enlace.c_str(),
                     std::strerror(errno));
        return 1;
    }
    struct sigaction sa{};
    sa.sa_handler = alSenal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("Controlador simulado en %s (%s)\n", o.enlace.c_str(), nombre);
    std::fflush(stdout);

    bool ok = true;
    if (!o.reproducir.empty() || o.inundar >= 0) {
        dormirMs(o.esperaMs);
        ok = o.reproducir.empty() ? inundar(maestro, o) : reproducir(maestro, o);
        if (!o.salirAlTerminar)
            while (!terminar)
                dormirMs(100);
        else // let the panel drain what is still in the line before the pty goes away
            while (!terminar) {
                int pendientes = 0;
                if (::ioctl(esclavo, FIONREAD, &pendientes) != 0 || pendientes == 0)
                    break;
                dormirMs(20);
            }
    } else {
        controlador(maestro, esclavo, o);
    }

    ::unlink(o.enlace.c_str());
    ::close(maestro);
    ::close(esclavo);
    return ok ? 0 : 1;
}
