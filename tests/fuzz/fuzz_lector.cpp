// libFuzzer target: arbitrary bytes as a log file, read as the log window reads it. Every
// block must hold what its samples, read again from the file, hold; times never go back; a
// block never spans two sessions. Lines tried on every reader alone must not crash.

#include <cstdint>
#include <cstdlib>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "historial/cargadorhistorial.h"
#include "historial/datoshistorial.h"

namespace {

QCoreApplication *app = nullptr;
QTemporaryDir *dir = nullptr;
std::vector<LectorLineas> *lectores = nullptr;

[[noreturn]] void fallo(const char *que)
{
    fprintf(stderr, "invariante: %s\n", que);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    app = new QCoreApplication(*argc, *argv);
    dir = new QTemporaryDir;
    lectores = new std::vector<LectorLineas>;
    for (const QLocale &l : LectorLineas::candidatos())
        lectores->emplace_back(l);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t n)
{
    const char *p = reinterpret_cast<const char *>(datos);
    for (LectorLineas &l : *lectores)
        if (const auto m = l.leer(p, n); m && (m->valor > 254 || m->repetida < 0))
            fallo("una cuenta fuera de 0..254 o una hora repetida hacia atrás");
    const QString ruta = dir->filePath(QStringLiteral("registro.xls"));
    {
        QFile f(ruta);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fallo("no se pudo escribir el archivo");
        f.write(p, qint64(n));
    }
    DatosHistorial d;
    uint64_t generacion = 0;
    CargadorHistorial c(ruta);
    QObject::connect(&c, &CargadorHistorial::lote, [&](const std::shared_ptr<const CargadorHistorial::Lote> &l) {
        if (l->generacion != generacion) {
            generacion = l->generacion;
            l->desde == 0 ? d.vaciar() : d.recortar(l->desde);
        }
        if (l->desde != d.bloques())
            fallo("un lote que no sigue al anterior");
        for (const auto &b : l->bloques)
            d.agregar(b);
    });
    c.empezar();
    c.seguir();
    int64_t antes = INT64_MIN;
    for (size_t b = 0; b < d.bloques(); ++b) {
        const DatosHistorial::Bloque &k = d.bloque(b);
        if (k.n == 0 || k.n > DatosHistorial::muestrasBloque || k.t0 > k.t1 || k.t0 < antes)
            fallo("un bloque vacío, demasiado grande o hacia atrás");
        const auto m = c.leerBloque(k);
        if (m.size() != k.n)
            fallo("releído, el bloque tiene otro número de muestras");
        uint32_t suma = 0;
        uint8_t mn = 255, mx = 0;
        for (size_t i = 0; i < m.size(); ++i) {
            if (m[i].ms < antes || (i > 0 && m[i].ms < m[i - 1].ms))
                fallo("una hora hacia atrás");
            suma += m[i].valor;
            mn = std::min(mn, m[i].valor);
            mx = std::max(mx, m[i].valor);
        }
        if (suma != k.sumaValor || mn != k.minimo || mx != k.maximo || m.front().ms != k.t0
            || m.back().ms != k.t1)
            fallo("releído, el bloque dice otra cosa");
        antes = k.t1;
    }
    uint64_t total = 0;
    for (const auto &s : d.sesiones())
        total += s.n;
    if (total != d.cuantos() || (d.bloques() > 0 && !d.bloque(0).sesion))
        fallo("las sesiones no suman las muestras");
    return 0;
}
