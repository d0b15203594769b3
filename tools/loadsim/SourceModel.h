#pragma once

#include "LoadState.h"

#include <QString>

#include <array>
#include <random>

// What the simulated load is connected to. Both sources are an ideal voltage behind a source
// resistance, one per phase; the load decides the current from its mode and level.

enum class SourceKind
{
    Ac,
    Battery
};

QString sourceName(SourceKind kind); // "ac", "battery"

// Three phases of `volts` RMS behind `impedanceOhm` each; every reading of a phase voltage gets
// a uniform noise of up to +-`noiseVolts`. The frequency set on the load changes no reading.
struct AcSource
{
    double volts = 230;
    double impedanceOhm = 0.2;
    double noiseVolts = 0.1;
};

// A DC cell on phase A (phases B and C read 0). Its open-circuit voltage falls linearly from
// `fullVolts` to `emptyVolts` as the charge drawn goes from 0 to `capacityAh`; at capacity its
// protection opens: it reads 0 V and delivers nothing more. `resistanceOhm` is its internal
// resistance, so the voltage under load is the open-circuit voltage less I x R.
struct BatterySource
{
    double capacityAh = 5;
    double fullVolts = 4.2;
    double emptyVolts = 3.0;
    double resistanceOhm = 0.02;
};

// Empty when the values make a usable source, else what is wrong with them.
QString checkAcSource(const AcSource& ac);
QString checkBatterySource(const BatterySource& battery);

// What the load asks of one phase: nothing, or `level` in `mode`.
struct Demand
{
    bool drawing = false;
    LoadMode mode = LoadMode::CC;
    double level = 0;
};

struct PhaseValues
{
    double volts = 0;
    double amps = 0;
    double watts = 0;
};
using PhaseReadings = std::array<PhaseValues, 3>;

// The operating point of one phase fed by `openVolts` behind `sourceOhm` (> 0). CC and LIN draw
// the level; CR draws V/R; CV draws what pulls the input down to the level (nothing when the
// source is below it); CP draws P/V, at most the source's maximum-power current. The load never
// pulls its input below `loadOnVolts` and draws nothing from a source at or below it.
PhaseValues operatingPoint(const Demand& demand, double openVolts, double sourceOhm,
                           double loadOnVolts);

class SourceModel
{
public:
    explicit SourceModel(SourceKind kind = SourceKind::Ac);

    SourceKind kind() const { return kind_; }
    void setKind(SourceKind kind) { kind_ = kind; }
    const AcSource& ac() const { return ac_; }
    void setAc(const AcSource& ac) { ac_ = ac; }
    const BatterySource& battery() const { return battery_; }
    void setBattery(const BatterySource& battery) { battery_ = battery; }

    double drawnAh() const { return drawnAh_; }
    // A fresh cell.
    void recharge() { drawnAh_ = 0; }

    // Open-circuit voltage of phase 0..2 as things stand.
    double openVolts(int phase) const;
    double sourceOhm() const;

    // Every phase's operating point under the demand, without noise.
    PhaseReadings operate(const Demand& demand, double loadOnVolts) const;
    // The same with the reading noise of the source added to the voltages.
    PhaseReadings measure(const Demand& demand, double loadOnVolts, std::mt19937& random) const;

    // Lets `seconds` of simulated time pass at the demand: the cell gives up its charge.
    void draw(const Demand& demand, double loadOnVolts, double seconds);

private:
    SourceKind kind_;
    AcSource ac_;
    BatterySource battery_;
    double drawnAh_ = 0;
};
