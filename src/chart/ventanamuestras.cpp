#include "ventanamuestras.h"

#include "core/numeros.h"
#include "core/variablesventana.h"

void VentanaMuestras::llenar(int16_t n)
{
    inicio_ = 0;
    filas_ = n < 0 ? 0 : n;
    for (int i = 0; i < filas_; ++i)
        store_[i] = {sinDato, sinSetPoint};
    agregadas_ += uint64_t(filas_); // breaks before them are off the window now
    ++cambios_;
}

void VentanaMuestras::marcarCorte(float segundos, const QString &motivo)
{
    cortes_[cortesN_ % maxCortes] = {agregadas_, segundos, motivo};
    ++cortesN_;
    ++cambios_;
}

void llenarVentana(VariablesVentana &variables, VentanaMuestras &ventana)
{
    ventana.llenar(variables.puntosX);
}

bool reiniciarVentana(const QString &txtAncho, VariablesVentana &variables,
                      VentanaMuestras &ventana)
{
    if (txtAncho.isEmpty())
        return false;
    const auto real = numeros::leerReal(txtAncho);
    if (!real || *real <= 100.0)
        return false;
    const auto puntos = numeros::redondearEntero(*real);
    // Above 32766 there is no room for the row appended before each cut.
    if (!puntos || *puntos >= VentanaMuestras::maxFilas)
        return false;
    variables.puntosX = *puntos;
    llenarVentana(variables, ventana);
    return true;
}
