#include "banda.h"

#include <algorithm>
#include <cmath>

namespace {

// Change of the least-squares line over points [desde, n), and the points' mean.
struct Recta
{
    double cambio, media;
};

Recta recta(const double *t, const double *y, int desde, int n)
{
    const int m = n - desde;
    double st = 0, sy = 0;
    for (int i = desde; i < n; ++i) {
        st += t[i];
        sy += y[i];
    }
    const double mt = st / m, my = sy / m;
    double stt = 0, sty = 0;
    for (int i = desde; i < n; ++i) {
        stt += (t[i] - mt) * (t[i] - mt);
        sty += (t[i] - mt) * (y[i] - my);
    }
    const double pendiente = stt > 0 ? sty / stt : 0.0;
    return {pendiente * (t[n - 1] - t[desde]), my};
}

} // namespace

std::optional<TramoPlano> tramoPlano(const double *t, const double *y, int n, double ruido)
{
    constexpr int minimo = 8;
    for (const int parte : {2, 4}) {
        const int desde = n - n / parte;
        if (n - desde < minimo)
            break;
        const Recta r = recta(t, y, desde, n);
        // Half a count is what whole counts cannot resolve; 3 standard errors of the fitted
        // change is what the noise can fake.
        const double admitido = std::max(0.5, 3.0 * ruido * std::sqrt(12.0 / (n - desde)));
        if (std::abs(r.cambio) <= admitido)
            return TramoPlano{r.media, desde};
    }
    return std::nullopt;
}

void Banda::agregar(double t, double y)
{
    const bool dentro = std::abs(y - centro_) <= semiancho_;
    if (dentro && !dentro_) {
        entrada_ = t;
        if (hayAnterior_ && t > tAnterior_) {
            const double borde = centro_ + (yAnterior_ > centro_ ? semiancho_ : -semiancho_);
            entrada_ = tAnterior_ + (borde - yAnterior_) / (y - yAnterior_) * (t - tAnterior_);
        }
    }
    dentro_ = dentro;
    hayAnterior_ = true;
    tAnterior_ = t;
    yAnterior_ = y;
}
