#include "SourceModel.h"

#include <algorithm>
#include <cmath>

namespace {
// Charge is integrated in steps of this much simulated time (the current of CR and CP changes
// with the voltage)...
constexpr double kDrawStepS = 1.0;
// ...but one call never takes more steps than this, however fast the simulation runs.
constexpr double kMostDrawSteps = 100000;
constexpr double kSecondsPerHour = 3600;
} // namespace

QString sourceName(SourceKind kind)
{
    return kind == SourceKind::Battery ? QStringLiteral("battery") : QStringLiteral("ac");
}

QString checkAcSource(const AcSource& ac)
{
    if (!(ac.volts >= 0))
        return QStringLiteral("the AC voltage must be 0 or more");
    if (!(ac.impedanceOhm > 0))
        return QStringLiteral("the AC source impedance must be above 0 ohm");
    if (!(ac.noiseVolts >= 0))
        return QStringLiteral("the noise must be 0 V or more");
    return {};
}

QString checkBatterySource(const BatterySource& battery)
{
    if (!(battery.capacityAh > 0))
        return QStringLiteral("the battery capacity must be above 0 Ah");
    if (!(battery.emptyVolts >= 0) || !(battery.fullVolts > battery.emptyVolts))
        return QStringLiteral("the battery's full voltage must be above its empty voltage (>= 0)");
    if (!(battery.resistanceOhm > 0))
        return QStringLiteral("the battery's internal resistance must be above 0 ohm");
    return {};
}

PhaseValues operatingPoint(const Demand& demand, double openVolts, double sourceOhm,
                           double loadOnVolts)
{
    PhaseValues point;
    point.volts = openVolts;
    if (!demand.drawing || openVolts <= 0 || openVolts <= loadOnVolts)
        return point;

    // The most the load may draw before its input would fall below the load-on voltage.
    const double limit = (openVolts - std::max(loadOnVolts, 0.0)) / sourceOhm;
    double amps = 0;
    switch (demand.mode) {
    case LoadMode::CC:
    case LoadMode::LIN:
        amps = std::max(demand.level, 0.0);
        break;
    case LoadMode::CR:
        // A resistance of 0 or less is a short: the limit below decides.
        amps = demand.level > 0 ? openVolts / (demand.level + sourceOhm) : limit;
        break;
    case LoadMode::CV:
        amps = demand.level < openVolts ? (openVolts - demand.level) / sourceOhm : 0;
        break;
    case LoadMode::CP:
        if (demand.level > 0) {
            // P = I (Voc - I R): the smaller root; past the maximum-power point, that point.
            const double disc = openVolts * openVolts - 4 * sourceOhm * demand.level;
            amps = disc >= 0 ? (openVolts - std::sqrt(disc)) / (2 * sourceOhm)
                             : openVolts / (2 * sourceOhm);
        }
        break;
    }
    point.amps = std::min(amps, limit);
    point.volts = openVolts - point.amps * sourceOhm;
    point.watts = point.volts * point.amps;
    return point;
}

SourceModel::SourceModel(SourceKind kind) : kind_(kind) {}

double SourceModel::openVolts(int phase) const
{
    if (kind_ == SourceKind::Ac)
        return ac_.volts;
    if (phase != 0 || drawnAh_ >= battery_.capacityAh)
        return 0;
    const double used = drawnAh_ / battery_.capacityAh;
    return battery_.fullVolts - (battery_.fullVolts - battery_.emptyVolts) * used;
}

double SourceModel::sourceOhm() const
{
    return kind_ == SourceKind::Ac ? ac_.impedanceOhm : battery_.resistanceOhm;
}

PhaseReadings SourceModel::operate(const Demand& demand, double loadOnVolts) const
{
    PhaseReadings phases;
    for (int i = 0; i < 3; ++i)
        phases[static_cast<size_t>(i)] =
            operatingPoint(demand, openVolts(i), sourceOhm(), loadOnVolts);
    return phases;
}

PhaseReadings SourceModel::measure(const Demand& demand, double loadOnVolts,
                                   std::mt19937& random) const
{
    PhaseReadings phases = operate(demand, loadOnVolts);
    if (kind_ == SourceKind::Ac && ac_.noiseVolts > 0) {
        std::uniform_real_distribution<double> noise(-ac_.noiseVolts, ac_.noiseVolts);
        for (PhaseValues& phase : phases) {
            phase.volts = std::max(phase.volts + noise(random), 0.0);
            phase.watts = phase.volts * phase.amps;
        }
    }
    return phases;
}

void SourceModel::draw(const Demand& demand, double loadOnVolts, double seconds)
{
    if (kind_ != SourceKind::Battery || seconds <= 0)
        return;
    const double step = std::max(kDrawStepS, seconds / kMostDrawSteps);
    for (double left = seconds; left > 0 && drawnAh_ < battery_.capacityAh; left -= step) {
        const double amps = operatingPoint(demand, openVolts(0), sourceOhm(), loadOnVolts).amps;
        if (amps <= 0)
            return;
        drawnAh_ =
            std::min(drawnAh_ + amps * std::min(step, left) / kSecondsPerHour, battery_.capacityAh);
    }
}
