#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QLocale>

// Reads one log record (date and time, set point, value; tab-separated) as this panel writes
// it under a given locale, with or without milliseconds. Built once from the locale's format,
// then reads each line with no allocation: millions of lines open in a second or two.
class LectorLineas
{
public:
    static constexpr uint8_t sinSetPoint = 255;

    struct Muestra
    {
        int64_t ms = 0;                 // wall-clock time, milliseconds since the epoch
        uint8_t valor = 0;
        uint8_t setPoint = sinSetPoint; // empty field: not known yet
        bool conMs = false;             // the time carried milliseconds
        // In the hour the clocks go back, the same text names two instants: `ms` is the
        // first, `ms + repetida` the second (0 where the hour happens once).
        int32_t repetida = 0;
    };

    explicit LectorLineas(const QLocale &locale = QLocale());

    // The line without its end (CR LF, or a bare LF); nullopt where it is not one of ours.
    std::optional<Muestra> leer(const char *linea, size_t n);

    // The locales tried on a file written elsewhere: this computer's first, then those that
    // put day and month in its order.
    static std::vector<QLocale> candidatos();

private:
    enum class Tipo { dia, mes, nombreMes, anio, hora24, hora12, minuto, segundo, ampm, texto };
    struct Campo
    {
        Tipo tipo;
        std::string texto; // the literal, UTF-8
    };
    bool leerFecha(const char *&p, const char *fin, Muestra &m);
    int64_t msHora(int anio, int mes, int dia, int hora);

    std::vector<Campo> campos_;
    std::string decimal_, am_, pm_;
    std::vector<std::string> meses_; // January first, as the format spells them
    // The start of the last local hour looked up: the time zone is asked once an hour.
    int64_t claveHora_ = -1;
    int64_t msClave_ = 0;
    int32_t repetidaClave_ = 0;
    bool claveValida_ = false;
};
