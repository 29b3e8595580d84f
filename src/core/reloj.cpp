#include "reloj.h"

#include <QDateTime>

namespace {

class RelojSistema : public Reloj::Fuente
{
public:
    Reloj::Instante estable() override { return std::chrono::steady_clock::now(); }
    Reloj::Pared pared() override { return std::chrono::system_clock::now(); }
};

RelojSistema relojSistema;

} // namespace

Reloj::Reloj() : fuente_(&relojSistema) {}

void Reloj::setFuente(Fuente *fuente)
{
    fuente_ = fuente ? fuente : &relojSistema;
}

double Reloj::segundosMedianoche(Pared momento)
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(momento.time_since_epoch());
    const QTime hora = QDateTime::fromMSecsSinceEpoch(ms.count()).time();
    const auto fraccion = momento.time_since_epoch() - ms;
    return hora.msecsSinceStartOfDay() / 1000.0 + std::chrono::duration<double>(fraccion).count();
}
