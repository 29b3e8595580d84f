// libFuzzer target: arbitrary sequences of serial events, txtAncho edits and log switches on
// the real window, checked against a plain model of what the panel must show and log.

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QTemporaryDir>

#include "recepcion/adquisicion.h"
#include "log/registro.h"
#include "ui/form1.h"

namespace {

QApplication *app = nullptr;
QTemporaryDir *dir = nullptr;
Form1 *ventana = nullptr; // one window for every input: building one per input is slow

constexpr int sinSetPoint = VentanaMuestras::sinSetPoint; // none reported yet

struct Esperado
{
    bool espera = false;
    int setPoint = sinSetPoint;
    std::deque<std::pair<int, int>> filas; // samples since the last rebuild, oldest first
    bool registrando = false;
    bool abrirAlSiguiente = false;
    bool abierto = false;
    std::vector<std::pair<int, int>> registros; // what the log file must hold
};

[[noreturn]] void fallo(const char *que)
{
    std::fprintf(stderr, "invariante rota: %s\n", que);
    std::abort();
}

void comprobarVentana(const Form1 &f, const Esperado &m)
{
    const int puntos = f.variables.puntosX;
    if (f.ventana.RowCount() != puntos)
        fallo("RowCount != puntosX");
    if (puntos <= 100 || puntos > 32766)
        fallo("puntosX out of range");
    const int k = int(m.filas.size());
    for (int r = 1; r <= puntos; ++r) {
        const int i = k - (puntos - r) - 1;
        const auto esperado =
            i >= 0 ? m.filas[size_t(i)] : std::pair<int, int>{VentanaMuestras::sinDato, sinSetPoint};
        const auto fila = f.ventana.fila(r);
        if (fila.dato != esperado.first || fila.setPoint != esperado.second)
            fallo("rows are not the last samples in order");
    }
    if (f.variables.setPoint.value_or(sinSetPoint) != m.setPoint
        || f.variables.esperaSetPoint != m.espera)
        fallo("decoder state");
}

void recibir(Form1 &f, Esperado &m, const uint8_t *datos, size_t n)
{
    f.adquisicion().procesarEntrada(evento::comEvReceive,
                                    QByteArrayView(reinterpret_cast<const char *>(datos), n));
    for (size_t i = 0; i < n; ++i) {
        const int b = datos[i];
        if (m.espera) {
            m.espera = false;
            m.setPoint = b;
        } else if (b == 255) {
            m.espera = true;
        } else {
            m.filas.emplace_back(b, m.setPoint);
            if (m.filas.size() > 32766)
                m.filas.pop_front();
            if (m.registrando) {
                if (m.abrirAlSiguiente) {
                    m.registros.clear();
                    m.abrirAlSiguiente = false;
                    m.abierto = true;
                }
                m.registros.emplace_back(m.setPoint, b);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char nombre[] = "fuzz_adquisicion";
    static char *argv[] = {nombre, nullptr};
    app = new QApplication(argc, argv);
    dir = new QTemporaryDir;
    QLocale::setDefault(QLocale::c());
    ventana = new Form1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t tam)
{
    static const char alfabeto[] = "0123456789.-e ,a+";
    const QString ruta = dir->filePath(QStringLiteral("fuzz.xls"));
    QFile::remove(ruta);

    Form1 &f = *ventana;
    f.txtRegistro->setText(ruta);
    // The model starts from whatever the previous input left on show.
    Esperado m;
    m.espera = f.variables.esperaSetPoint;
    m.setPoint = f.variables.setPoint.value_or(sinSetPoint);
    for (int r = 1; r <= f.ventana.RowCount(); ++r)
        m.filas.emplace_back(f.ventana.fila(r).dato, f.ventana.fila(r).setPoint);
    size_t i = 0;
    auto siguiente = [&]() -> uint8_t { return i < tam ? datos[i++] : 0; };

    while (i < tam) {
        const uint8_t op = siguiente();
        switch (op % 5) {
        case 0:
        case 1: { // a receive event
            const size_t pedido = siguiente();
            const size_t n = std::min<size_t>(tam - i, pedido);
            recibir(f, m, datos + i, n);
            i += n;
            break;
        }
        case 2: { // any other event code changes nothing
            int16_t codigo = int16_t(siguiente() | (siguiente() << 8));
            if (codigo == evento::comEvReceive)
                codigo = evento::comEventFrame;
            const uint64_t cambios = f.ventana.cambios();
            f.adquisicion().procesarEntrada(codigo, QByteArrayView("\x01\xff\x02", 3));
            if (f.ventana.cambios() != cambios)
                fallo("a non-receive event changed the window");
            break;
        }
        case 3: { // a txtAncho edit
            QString texto;
            const int n = siguiente() % 8;
            for (int k = 0; k < n; ++k)
                texto += QLatin1Char(alfabeto[siguiente() % (sizeof alfabeto - 1)]);
            const uint64_t cambios = f.ventana.cambios();
            f.txtAncho->setText(texto);
            if (f.ventana.cambios() != cambios)
                m.filas.clear(); // rebuilt: rows with no sample at the new length
            break;
        }
        case 4: { // the user clicks the log box, and answers if asked about the old records
            const int respuesta = siguiente() % 3; // add, start anew, cancel
            const bool pregunta = !f.chkRegistrar->isChecked() && !m.registros.empty();
            bool preguntada = false;
            QTimer::singleShot(0, &f, [&] {
                auto *caja = f.findChild<QMessageBox *>(QStringLiteral("preguntaAnadir"));
                if (!caja)
                    return;
                preguntada = true;
                const QString texto = QString::fromUtf8(respuesta == 0   ? "Añadir al final"
                                                        : respuesta == 1 ? "Vaciar y empezar de nuevo"
                                                                         : "Cancelar");
                for (QAbstractButton *boton : caja->buttons())
                    if (boton->text() == texto)
                        boton->click();
            });
            f.chkRegistrar->click();
            QCoreApplication::processEvents(); // the answer's timer, had no question come
            if (preguntada != pregunta)
                fallo("the question about old records came when it should not, or not at all");
            m.registrando = f.chkRegistrar->isChecked();
            // The last answer rules: an earlier «start anew» that opened nothing is void.
            if (m.registrando)
                m.abrirAlSiguiente = !(pregunta && respuesta == 0);
            break;
        }
        }
        comprobarVentana(f, m);
    }

    if (f.chkRegistrar->isChecked())
        f.chkRegistrar->click(); // closes the file
    QFile archivo(ruta);
    if (!m.abierto) {
        if (archivo.exists())
            fallo("a log file without a logged sample");
        return 0;
    }
    if (!archivo.open(QIODevice::ReadOnly))
        fallo("log file missing");
    const QList<QByteArray> lineas = archivo.readAll().split('\n');
    if (size_t(lineas.size()) != m.registros.size() + 1)
        fallo("one log record per sample while logging");
    for (size_t k = 0; k < m.registros.size(); ++k) {
        const QList<QByteArray> campos = lineas[qsizetype(k)].split('\t');
        const int setPoint = m.registros[k].first;
        const QByteArray textoSetPoint =
            setPoint == sinSetPoint ? QByteArray() : QByteArray::number(setPoint);
        if (campos.size() != 3 || campos[1] != textoSetPoint
            || campos[2].trimmed().toInt() != m.registros[k].second
            || !campos[2].endsWith('\r'))
            fallo("log record differs");
    }
    return 0;
}
