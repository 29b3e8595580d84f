#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>

#include "hasta.h"

namespace {

// The simulator's loop: y'' + 2ζω y' + ω² y = ω² g r, from rest, in closed form (ζ < 1).
double respuesta(double zeta, double wn, double t)
{
    const double wd = wn * std::sqrt(1 - zeta * zeta);
    return 1 - std::exp(-zeta * wn * t) * (std::cos(wd * t) + zeta / std::sqrt(1 - zeta * zeta) * std::sin(wd * t));
}

double cruce(double zeta, double wn, double nivel)
{
    double a = 0, b = 0.01;
    while (respuesta(zeta, wn, b) < nivel)
        a = b, b += 0.01;
    for (int i = 0; i < 60; ++i) {
        const double m = (a + b) / 2;
        (respuesta(zeta, wn, m) < nivel ? a : b) = m;
    }
    return a;
}

} // namespace

class TstProgramaSimulador : public QObject
{
    Q_OBJECT

private slots:
    // The real panel, unattended, runs a program on the simulator's noisy loop over a
    // pseudo-terminal: every step listed, per stage means near the loop's exact response.
    void programaDesatendido()
    {
        QTemporaryDir dir;
        const QString enlace = dir.filePath(QStringLiteral("ctl"));
        const QString programa = dir.filePath(QStringLiteral("p.txt"));
        const QString resultados = dir.filePath(QStringLiteral("r.tsv"));
        const double zeta = 0.5, wn = 3, k = 12;
        QFile f(programa);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Escalón 50 4 s\nEscalón 30 4 s\nRepetir 2\nLímite superior 80\nSet point seguro 0\n");
        f.close();
        QProcess simulador;
        simulador.start(QStringLiteral(SIMULADOR),
                        {"--enlace", enlace, "--tasa", "100", "--setpoint", "30", "--alternar", "-1",
                         "--planta-2o", QStringLiteral("%1,%2").arg(zeta).arg(wn), "--solo-p",
                         QString::number(k), "--ruido", "0.5"});
        QVERIFY(hasta([&] { return QFile::exists(enlace); }, 10000));
        QProcess panel;
        panel.setProcessChannelMode(QProcess::ForwardedChannels);
        panel.start(QStringLiteral(VELMORA), {enlace, "--conectar", "--programa", programa,
                                             "--iniciar", "--resultados", resultados});
        QVERIFY(hasta([&] { return QFile::exists(resultados); }, 40000));
        ::kill(pid_t(panel.processId()), SIGTERM);
        QVERIFY(panel.waitForFinished(10000));
        simulador.terminate();
        simulador.waitForFinished(5000);

        QFile r(resultados);
        QVERIFY(r.open(QIODevice::ReadOnly));
        const QStringList lineas = QString::fromUtf8(r.readAll()).split(u'\n');
        qInfo().noquote() << lineas.join(u'\n');
        QCOMPARE(lineas.indexOf(QString()), 5); // four steps, then the statistics
        const double ganancia = k / (1 + k);
        const double subida = cruce(zeta, wn, 0.9) - cruce(zeta, wn, 0.1);
        const double sobre = 100 * std::exp(-M_PI * zeta / std::sqrt(1 - zeta * zeta));
        for (int etapa = 1; etapa <= 2; ++etapa) {
            const int sp = etapa == 1 ? 50 : 30;
            const auto media = [&](const QString &cifra) {
                for (const QString &l : lineas)
                    if (l.startsWith(QStringLiteral("%1\t%2\t").arg(etapa).arg(cifra)))
                        return l.split(u'\t').value(3).toDouble();
                return -1.0;
            };
            QVERIFY2(std::abs(media("Valor final") - ganancia * sp) <= 0.05 * ganancia * sp,
                     qPrintable(QString::number(media("Valor final"))));
            QVERIFY2(std::abs(media("Subida (s)") - subida) <= 0.05 * subida,
                     qPrintable(QStringLiteral("%1 against %2").arg(media("Subida (s)")).arg(subida)));
            QVERIFY2(std::abs(media("Sobreimpulso (%)") - sobre) <= 0.05 * sobre,
                     qPrintable(QStringLiteral("%1 against %2").arg(media("Sobreimpulso (%)")).arg(sobre)));
        }
    }
};

QTEST_GUILESS_MAIN(TstProgramaSimulador)
#include "tst_programa_simulador.moc"
