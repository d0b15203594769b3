#pragma once

#include <QString>

#include <array>
#include <optional>

// The settings the simulated load keeps, as the command set writes them.

enum class LoadMode
{
    CC,
    CR,
    CV,
    CP,
    LIN
};
constexpr int kLoadModeCount = 5;

// "CC", "CR", "CV", "CP", "LIN": the words of "MODE ...".
QString modeName(LoadMode mode);
// The mode a word names, without regard to case; none for any other word.
std::optional<LoadMode> modeFromName(const QString& name);

// The two level registers of a mode (CC and LIN in A, CR in ohm, CV in V, CP in W).
struct LevelPair
{
    double a = 0;
    double b = 0;
};

struct PulseSettings
{
    double highAmps = 0;  // CCP:HIGH
    double highMs = 0;    // PERD:HIGH
    double lowMs = 0;     // PERD:LOW
    double stopVolts = 0; // VTH
    int count = 0;        // COUNT
};

struct LoadState
{
    LoadMode mode = LoadMode::CC;
    // Indexed by LoadMode. Resistance levels start high so that a stray "MODE CR" draws little.
    std::array<LevelPair, kLoadModeCount> levels{{{0, 0}, {12500, 12500}, {0, 0}, {0, 0}, {0, 0}}};
    double frequency = 50;  // FREQ, Hz
    bool loadOn = false;    // LOAD ON / LOAD OFF
    bool ccAuto = false;    // CC AUTO
    double loadOnVolts = 0; // LDON: below this input voltage the load draws nothing
    PulseSettings pulse;
    bool pulseRunning = false; // between "DYNC ON" and its result line

    LevelPair& level(LoadMode m) { return levels[static_cast<size_t>(m)]; }
    const LevelPair& level(LoadMode m) const { return levels[static_cast<size_t>(m)]; }
};
