#pragma once

#include <array>
#include <cstdint>

#include <QString>

struct VariablesVentana;

// The rows the trend shows, oldest first: a sample and the set point then in force (sinDato,
// sinSetPoint where none). A ring over a fixed store: appending and cutting cost the same at
// any length and never allocate.
class VentanaMuestras
{
public:
    static constexpr int16_t sinSetPoint = INT16_MIN;
    static constexpr int16_t sinDato = INT16_MIN;
    struct Fila
    {
        int16_t dato;
        int16_t setPoint;
        bool conDato() const { return dato != sinDato; }
        bool conSetPoint() const { return setPoint != sinSetPoint; }
    };

    // One more than the largest window, for the row appended before the cut.
    static constexpr int16_t maxFilas = INT16_MAX;

    // Where the samples stopped before a row (the controller paused, the port was lost or
    // changed): the line is not drawn across it, and a mark says what it was.
    struct Corte
    {
        uint64_t numero = 0; // of the row after it, counted from the first row ever
        float segundos = 0;  // without samples
        QString motivo;
    };
    static constexpr int maxCortes = 64; // the oldest go first
    // The next row appended comes after a break. Rare, so it may allocate.
    void marcarCorte(float segundos, const QString &motivo);
    // The breaks before the rows on show, oldest first: row number (1..RowCount) and break.
    template <typename F>
    void cortesVisibles(F &&hacer) const
    {
        const uint64_t primera = agregadas_ - uint64_t(filas_);
        for (uint64_t i = cortesN_ > maxCortes ? cortesN_ - maxCortes : 0; i < cortesN_; ++i) {
            const Corte &c = cortes_[i % maxCortes];
            if (c.numero > primera && c.numero < agregadas_)
                hacer(int(c.numero - primera + 1), c);
        }
    }


    int16_t RowCount() const { return filas_; }
    Fila fila(int numero) const { return store_[(inicio_ + numero - 1) & mascara]; }

    // n rows with no sample and no set point.
    void llenar(int16_t n);
    // Returns false (and changes nothing) when the row count is already at its 16-bit limit.
    // `ns`: the sample's steady-clock time, for the cursors' figures.
    bool agregarMuestra(int16_t dato, int16_t setPoint, int64_t ns = 0)
    {
        if (filas_ >= maxFilas)
            return false;
        store_[(inicio_ + filas_) & mascara] = {dato, setPoint};
        tiempos_[(inicio_ + filas_) & mascara] = ns;
        ++muestras_;
        ++filas_;
        ++agregadas_;
        ++cambios_;
        return true;
    }
    // Drops the oldest row while there are more than puntosX.
    void recortarVentana(int16_t puntosX)
    {
        while (filas_ > puntosX && filas_ > 0) {
            inicio_ = (inicio_ + 1) & mascara;
            --filas_;
        }
    }

    int64_t tiempo(int numero) const { return tiempos_[(inicio_ + numero - 1) & mascara]; }
    // Samples appended ever: the rows that hold one are the last ones, the newest numbered
    // muestras() - 1.
    uint64_t muestras() const { return muestras_; }

    // Grows with every change, so a drawer can tell whether anything is new.
    uint64_t cambios() const { return cambios_; }

private:
    static constexpr int capacidad = 32768;
    static constexpr int mascara = capacidad - 1;
    static_assert(capacidad > maxFilas);

    std::array<Fila, capacidad> store_{};
    std::array<int64_t, capacidad> tiempos_{};
    uint64_t muestras_ = 0;
    int inicio_ = 0;
    int16_t filas_ = 0;
    uint64_t agregadas_ = 0; // rows ever appended, the fill's included
    uint64_t cambios_ = 0;
    std::array<Corte, maxCortes> cortes_{};
    uint64_t cortesN_ = 0; // ever marked
};

// The load's fill: puntosX rows with no sample yet.
void llenarVentana(VariablesVentana &variables, VentanaMuestras &ventana);

// The change handler of the "how many points" box. Returns true when it rebuilt the window.
bool reiniciarVentana(const QString &txtAncho, VariablesVentana &variables,
                      VentanaMuestras &ventana);
