#include "LoadInstrument.h"

#include "common/NumberText.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kMsPerS = 1000;

// A numeric register of the load: a real value or a whole one.
struct Register
{
    double* real = nullptr;
    int* whole = nullptr;
    explicit operator bool() const { return real || whole; }
};

// "CC:A" to "LIN:B", "FREQ", "LDON" and the pulse settings.
Register findRegister(LoadState& s, const QString& word)
{
    const auto colon = word.indexOf(QLatin1Char(':'));
    if (colon > 0 && word.size() == colon + 2) {
        if (const auto mode = modeFromName(word.left(colon))) {
            const QChar which = word.at(colon + 1);
            if (which == QLatin1Char('A'))
                return {&s.level(*mode).a};
            if (which == QLatin1Char('B'))
                return {&s.level(*mode).b};
        }
    }
    if (word == QLatin1String("FREQ"))
        return {&s.frequency};
    if (word == QLatin1String("LDON"))
        return {&s.loadOnVolts};
    if (word == QLatin1String("CCP:HIGH"))
        return {&s.pulse.highAmps};
    if (word == QLatin1String("PERD:HIGH"))
        return {&s.pulse.highMs};
    if (word == QLatin1String("PERD:LOW"))
        return {&s.pulse.lowMs};
    if (word == QLatin1String("VTH"))
        return {&s.pulse.stopVolts};
    if (word == QLatin1String("COUNT"))
        return {nullptr, &s.pulse.count};
    return {};
}

// The per-phase queries: which quantity they ask for.
enum class Quantity
{
    Volts,
    Amps,
    Watts
};

std::optional<Quantity> quantityOf(const QString& word)
{
    if (word == QLatin1String("VOLT"))
        return Quantity::Volts;
    if (word == QLatin1String("CURR"))
        return Quantity::Amps;
    if (word == QLatin1String("POW"))
        return Quantity::Watts;
    return std::nullopt;
}

double valueOf(const PhaseValues& phase, Quantity q)
{
    switch (q) {
    case Quantity::Volts:
        return phase.volts;
    case Quantity::Amps:
        return phase.amps;
    case Quantity::Watts:
        return phase.watts;
    }
    return 0;
}
} // namespace

QString replyNumber(double value)
{
    QString text = QString::number(value, 'f', 3);
    if (text == QLatin1String("-0.000"))
        text.remove(0, 1);
    return text;
}

LoadInstrument::LoadInstrument(SourceKind kind, unsigned seed) : source_(kind), random_(seed) {}

LoadInstrument::Outcome LoadInstrument::execute(const QString& line, double nowS)
{
    advanceTo(nowS);
    Outcome out;
    const QString command = line.trimmed().toUpper();
    if (command.endsWith(QLatin1Char('?'))) {
        out.reply = query(command, nowS);
        out.understood = out.reply.has_value();
        return out;
    }

    out.understood = true;
    if (command == QLatin1String("REM") || command == QLatin1String("REMOTE")) {
        // Sent when a serial or GPIB link opens; the simulated load is always remote.
    } else if (command == QLatin1String("LOAD ON")) {
        state_.loadOn = true;
    } else if (command == QLatin1String("LOAD OFF")) {
        state_.loadOn = false;
    } else if (command == QLatin1String("CC AUTO")) {
        state_.ccAuto = true;
    } else if (command.startsWith(QLatin1String("MODE "))) {
        const auto mode = modeFromName(command.mid(5).trimmed());
        if (mode)
            state_.mode = *mode;
        out.understood = mode.has_value();
    } else if (command == QLatin1String("DYNC ON")) {
        // A second "DYNC ON" while a sequence runs changes nothing.
        if (!state_.pulseRunning) {
            state_.pulseRunning = true;
            run_ = PulseRun{nowS, 0, std::nullopt};
            out.pulseStarted = true;
        }
    } else if (command == QLatin1String("DYNC OFF")) {
        out.pulseStopped = state_.pulseRunning;
        state_.pulseRunning = false;
    } else {
        out.understood = applySetting(command);
    }
    return out;
}

bool LoadInstrument::applySetting(const QString& command)
{
    const auto blank = command.indexOf(QLatin1Char(' '));
    if (blank <= 0)
        return false;
    const QString argument = command.mid(blank + 1).trimmed();
    const Register reg = findRegister(state_, command.left(blank));
    if (!reg || !isNumberText(argument))
        return false;
    const double value = parseNumber(argument);
    if (reg.real)
        *reg.real = value;
    else
        *reg.whole = roundToInt(value);
    return true;
}

std::optional<QString> LoadInstrument::query(const QString& command, double nowS)
{
    const QString word = command.chopped(1);
    if (word.startsWith(QLatin1String("MEAS:")) || word.startsWith(QLatin1String("GLOB:MEAS:"))) {
        const bool global = word.startsWith(QLatin1String("GLOB:"));
        const auto quantity = quantityOf(word.mid(global ? 10 : 5));
        if (!quantity)
            return std::nullopt;
        const PhaseReadings phases = measure(nowS);
        if (!global)
            return replyNumber(valueOf(phases[0], *quantity));
        QStringList fields;
        double total = 0;
        for (const PhaseValues& phase : phases) {
            // The total adds the values as they are printed, so that it matches the fields.
            const QString field = replyNumber(valueOf(phase, *quantity));
            total += field.toDouble();
            fields << field;
        }
        fields << replyNumber(total);
        return fields.join(QLatin1Char(','));
    }
    if (word == QLatin1String("MODE"))
        return modeName(state_.mode);
    if (word == QLatin1String("LOAD"))
        return state_.loadOn ? QStringLiteral("ON") : QStringLiteral("OFF");
    if (const Register reg = findRegister(state_, word))
        return reg.real ? formatGeneral(*reg.real) : QString::number(*reg.whole);
    return std::nullopt;
}

bool LoadInstrument::inPulse() const
{
    // In 64 bits: twice a COUNT near the int limit does not fit an int.
    return state_.pulseRunning && run_.segment < 2 * static_cast<qint64>(state_.pulse.count);
}

Demand LoadInstrument::demandNow() const
{
    if (inPulse()) {
        const bool high = run_.segment % 2 == 0;
        return {true, LoadMode::CC, high ? state_.pulse.highAmps : state_.level(LoadMode::CC).b};
    }
    if (!state_.loadOn)
        return {};
    return {true, state_.mode, state_.level(state_.mode).a};
}

double LoadInstrument::segmentEnd(qint64 segment) const
{
    const double highS = std::max(state_.pulse.highMs, 0.0) / kMsPerS;
    const double periodS = highS + std::max(state_.pulse.lowMs, 0.0) / kMsPerS;
    return run_.startS + static_cast<double>(segment / 2) * periodS +
           (segment % 2 == 0 ? highS : periodS);
}

double LoadInstrument::pulseSeconds() const
{
    const double periodMs = std::max(state_.pulse.highMs, 0.0) + std::max(state_.pulse.lowMs, 0.0);
    return std::max(state_.pulse.count, 0) * periodMs / kMsPerS;
}

void LoadInstrument::advanceTo(double nowS)
{
    while (lastS_ < nowS) {
        double end = nowS;
        bool segmentEnds = false;
        const bool pulsing = inPulse();
        if (pulsing) {
            const double segEnd = segmentEnd(run_.segment);
            if (segEnd <= lastS_) { // an empty segment (PERD:HIGH or PERD:LOW of 0)
                // Cycles of no length at all end at once, however many there are.
                if (pulseSeconds() <= 0)
                    run_.segment = 2 * static_cast<qint64>(state_.pulse.count);
                else
                    ++run_.segment;
                continue;
            }
            if (segEnd <= nowS) {
                end = segEnd;
                segmentEnds = true;
            }
        }
        const Demand demand = demandNow();
        source_.draw(demand, state_.loadOnVolts, end - lastS_);
        if (pulsing && run_.segment % 2 == 0) {
            const PhaseValues a = source_.operate(demand, state_.loadOnVolts)[0];
            if (!run_.lowest || a.volts < run_.lowest->volts)
                run_.lowest = a;
        }
        lastS_ = end;
        if (segmentEnds)
            ++run_.segment;
    }
}

QString LoadInstrument::finishPulse(double nowS)
{
    advanceTo(std::max(nowS, run_.startS + pulseSeconds()));
    // Without a high segment (COUNT or PERD:HIGH of 0) the reading is what the high current
    // would give right now.
    const PhaseValues at =
        run_.lowest
            ? *run_.lowest
            : source_.operate({true, LoadMode::CC, state_.pulse.highAmps}, state_.loadOnVolts)[0];
    state_.pulseRunning = false;
    const bool ng = at.volts < state_.pulse.stopVolts;
    return QStringLiteral("%1,%2,%3")
        .arg(ng ? QStringLiteral("NG") : QStringLiteral("OK"), replyNumber(at.volts),
             replyNumber(at.amps));
}

PhaseReadings LoadInstrument::measure(double nowS)
{
    advanceTo(nowS);
    return source_.measure(demandNow(), state_.loadOnVolts, random_);
}

void LoadInstrument::reset(double nowS)
{
    advanceTo(nowS);
    state_ = LoadState{};
    run_ = PulseRun{};
    source_.recharge();
}
