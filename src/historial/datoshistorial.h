#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

struct FigurasCursores;

// A log as the window keeps it, in bounded memory: blocks of consecutive samples, each with
// where its lines lie in the file, its first and last time, the least and greatest value and
// set point, and the sums the cursors' figures need; the samples themselves are read again
// from the file when a view, a cursor or a step needs them, and a few thousand blocks of
// them are kept. A block never spans two sessions, two date formats or two files.
class DatosHistorial
{
public:
    static constexpr uint8_t sinSetPoint = 255;
    static constexpr int muestrasBloque = 512;
    static constexpr size_t bloquesGuardados = 4096;

    struct Cruda
    {
        int64_t ms;
        uint8_t valor, setPoint;
        bool conMs;
    };
    struct Bloque
    {
        int64_t t0 = 0, t1 = 0; // first and last sample, ms since the epoch
        int64_t posicion = 0;   // of its first line in its file
        int64_t previo = INT64_MIN; // the sample before it, as its times are put in order
        uint64_t primero = 0;   // index of its first sample in the log
        uint32_t bytes = 0;
        uint32_t sumaValor = 0, sumaCuadrados = 0, sumaSetPoint = 0;
        uint16_t n = 0, conSetPoint = 0;
        uint16_t fuente = 0; // the file, in the order they were followed
        uint8_t lector = 0;  // the date format it was read with
        uint8_t minimo = 255, maximo = 0, spMinimo = 255, spMaximo = 0;
        uint8_t spPrimero = sinSetPoint, spUltimo = sinSetPoint;
        bool sesion = false; // starts a session
        bool conMs = true;   // every time carries milliseconds
    };
    struct Sesion
    {
        size_t bloque0, bloque1; // [bloque0, bloque1)
        uint64_t primero, n;
        int64_t t0, t1;
    };
    struct Rango
    {
        uint8_t minimo = 255, maximo = 0; // minimo > maximo: nothing there
        bool vacio() const { return minimo > maximo; }
        void unir(uint8_t a, uint8_t b)
        {
            minimo = a < minimo ? a : minimo;
            maximo = b > maximo ? b : maximo;
        }
    };
    struct Columna
    {
        double t; // seconds since the epoch, the column's middle
        Rango valor, setPoint;
        bool corte = false; // a session starts in it, after samples of the one before
    };

    void agregar(const Bloque &b);
    // Drops the blocks from `desde` on (a stretch read again with another date format).
    void recortar(size_t desde);
    void vaciar();

    size_t bloques() const { return bloques_.size(); }
    const Bloque &bloque(size_t i) const { return bloques_[i]; }
    uint64_t cuantos() const { return bloques_.empty() ? 0 : bloques_.back().primero + bloques_.back().n; }
    const std::vector<Sesion> &sesiones() const { return sesiones_; }
    size_t sesionDe(size_t bloque) const;
    // The block holding sample `i`; the first block whose last time is at or after `ms`.
    size_t bloqueDe(uint64_t i) const;
    size_t bloqueEn(int64_t ms) const;

    // The samples of a block, where they have been read; nullptr where not.
    const std::vector<Cruda> *crudas(size_t bloque) const;
    void guardarCrudas(size_t bloque, std::vector<Cruda> muestras);
    // Sample `i`, where its block has been read.
    const Cruda *muestra(uint64_t i) const;
    // The first sample at or after `ms` and the one before it, nearest of the two; nullopt
    // where its block has not been read (asked for in `faltan`).
    bool cercana(int64_t ms, uint64_t &i, std::vector<size_t> &faltan) const;

    // `columnas` columns splitting [t0, t1) evenly, each with the least and greatest of the
    // blocks that reach into it: exact to a block at each edge, so nothing is left out.
    std::vector<Columna> columnas(double t0, double t1, int columnas) const;

    // The figures between two samples (both included) from the blocks' sums and the samples
    // of the two end blocks; false (and what to read in `faltan`) where those are not here.
    struct Suma
    {
        uint64_t n = 0, conSetPoint = 0;
        uint64_t valor = 0, cuadrados = 0, setPoint = 0;
        uint8_t minimo = 255, maximo = 0;
        int pausas = 0;       // sessions that start after the first sample
        int64_t msPausas = 0; // the time between them
    };
    bool sumar(uint64_t a, uint64_t b, Suma &s, std::vector<size_t> &faltan) const;
    // The two cursors' figures between samples a and b, times from A; false where a block
    // they need is not loaded (those to ask for are in `faltan`).
    bool figurasCursores(uint64_t a, uint64_t b, FigurasCursores &f, std::vector<size_t> &faltan) const;

private:
    std::vector<Bloque> bloques_;
    std::vector<Sesion> sesiones_;
    // The blocks read, newest use last.
    mutable std::list<size_t> uso_;
    std::unordered_map<size_t, std::pair<std::vector<Cruda>, std::list<size_t>::iterator>> crudas_;
};
