#include "load/LoadControl.h"

#include "common/NumberText.h"
#include "common/Waits.h"
#include "links/LinkLayer.h"
#include "station/Station.h"

namespace {

// The pulse sequence starts this long before the step's set-up time has passed.
constexpr double kPulseLeadMs = 100.0;

// The reset that puts the load in a known state before a run; the LIN levels only over TCP/IP.
struct ResetLine
{
    const char* command;
    bool tcpOnly;
};
constexpr ResetLine kResetSequence[] = {
    {"CV:B 0", false}, {"CV:A 0", false}, {"CR:A 12500", false}, {"CR:B 12500", false},
    {"CP:B 0", false}, {"CP:A 0", false}, {"CC:B 0", false},     {"CC:A 0", false},
    {"LIN:B 0", true}, {"LIN:A 0", true}, {"CC AUTO", false},    {"LDON 0.8", false},
};

bool channelReady(const Station& station)
{
    return station.LoadConnected[0] && station.form.LoadCheck[0]->flag();
}

// A failed channel shows the address tried and why, never a stale "Wait".
void markChannel(Station& station, bool answered, const QString& address = {},
                 const QString& why = {})
{
    GridModel& grid = station.form.LoadStatusGrid;
    station.LoadConnected[0] = answered;
    if (!answered)
        grid.setText(1, 1, address);
    grid.setText(1, 2,
                 answered ? QStringLiteral("Connect OK") : QStringLiteral("Connect Fail: ") + why);
    grid.setForeColor(1, 2, answered ? gridcolors::Green : gridcolors::Red);
}

// The level and mode commands of a step, in the order the load takes them: level first. A load
// level also knows LINCC, and sends its frequency in CC. Unknown modes send nothing.
void sendLevelAndMode(Station& station, const QString& mode, double value, double count,
                      bool loadLevel, const QString& frequency)
{
    if (mode == loadmodes::CC) {
        sendToLoad(station, levelCommand(QStringLiteral("CC:A "), value / count));
        if (loadLevel)
            sendToLoad(station, levelCommand(QStringLiteral("FREQ "), parseNumber(frequency)));
        sendToLoad(station, QStringLiteral("MODE CC"));
    } else if (mode == loadmodes::CR) {
        sendToLoad(station, levelCommand(QStringLiteral("CR:A "), value * count));
        sendToLoad(station, QStringLiteral("MODE CR"));
    } else if (mode == loadmodes::CV) {
        sendToLoad(station, levelCommand(QStringLiteral("CV:A "), value / count));
        sendToLoad(station, QStringLiteral("MODE CV"));
    } else if (mode == loadmodes::CP) {
        sendToLoad(station, levelCommand(QStringLiteral("CP:A "), value / count));
        sendToLoad(station, QStringLiteral("MODE CP"));
    } else if (loadLevel && mode == loadmodes::LINCC) {
        sendToLoad(station, levelCommand(QStringLiteral("LIN:A "), value / count));
        sendToLoad(station, QStringLiteral("MODE LIN"));
    }
}

} // namespace

void sendToLoad(Station& station, const QString& command)
{
    station.links().SendCommand(station.loadInstrument(), command);
}

QString levelCommand(const QString& command, double value)
{
    return command + formatGeneral(value);
}

QString AllConnect(Station& station)
{
    station.ConnectedLoadCount = 0;
    LinkLayer& links = station.links();
    QString failure;
    for (int channel = 0; channel < kServedLoadChannels; ++channel) {
        const int r = station.LoadChannels[static_cast<std::size_t>(channel)];
        LinkRecord& record = station.LinkRecords[static_cast<std::size_t>(r)];
        QString reply = kErrRec;
        QString why;
        QString address; // the address tried, when it is not the link's own
        const auto query = [&] {
            links.SendCommand(r, QStringLiteral("MEAS:VOLT?"));
            reply = links.ReadReply(r);
            if (reply == kErrRec)
                why = QStringLiteral("no answer within %1 s").arg(links.replyWindowSeconds(r));
            else if (links.linkLost(r))
                why = QStringLiteral("the connection was closed");
            else
                why = QStringLiteral("the reply \"%1\" is no voltage").arg(reply);
        };
        if (record.ConnectMode == kConnectTcp) {
            QString message;
            if (!checkPortText(station.form.txtPort.text(), &message)) {
                // Nothing is attempted with a port the socket cannot take.
                station.prompts.message(
                    message + QStringLiteral(" Please check it in the connection set-up."));
                why = QStringLiteral("invalid port \"%1\"").arg(station.form.txtPort.text());
                address =
                    station.form.txtIP.text() + QLatin1Char(':') + station.form.txtPort.text();
            } else {
                record.IP = station.form.txtIP.text();
                record.PORT = portOf(station.form.txtPort.text());
                links.LoadConnect(r);
                // A refused connection is a dead link, not an answer.
                if (links.tcpConnected())
                    query();
                else
                    why = links.connectFailure(r);
            }
        } else if (record.ConnectMode == kConnectGpib) {
            links.LoadConnect(r);
            if (links.gpibDevice(r) != -1)
                query();
            else
                why = links.connectFailure(r);
        } else if (!station.form.LoadCheck[static_cast<std::size_t>(channel)]->flag()) {
            why = QStringLiteral("the load's channel is not ticked");
        } else {
            links.LoadConnect(r);
            if (links.serialPortOpen(r))
                query();
            else
                why = links.connectFailure(r);
        }

        // Only a voltage is an answer: garbage or an empty line is no load that works.
        if (!isNumberText(reply)) {
            if (address.isEmpty())
                address = links.linkAddress(r);
            markChannel(station, false, address, why);
            failure = address + QStringLiteral(": ") + why;
            continue;
        }
        if (record.ConnectMode == kConnectTcp)
            station.form.LoadStatusGrid.setText(1, 1, station.form.txtIP.text());
        markChannel(station, true);
        ++station.ConnectedLoadCount;
        for (const ResetLine& line : kResetSequence) {
            if (!line.tcpOnly || record.ConnectMode == kConnectTcp)
                links.SendCommand(r, QString::fromLatin1(line.command));
        }
    }
    return station.ConnectedLoadCount > 0 ? QString() : failure;
}

void StartStep(Station& station, int stepIndex)
{
    if (stepIndex < 0 || stepIndex >= kStepTableSize)
        return;
    // A copy: a wait below may let Stop reload the program.
    const TestStep step = station.StepTable[static_cast<std::size_t>(stepIndex)];
    const double count = std::max(station.ConnectedLoadCount, 1);
    const QString& action = step.ActionMode;

    if (action == actions::DisCharge || action == actions::DCIRLow || action == actions::DCIRHigh) {
        if (station.ConnectedLoadCount < 1)
            return;
        if (channelReady(station)) {
            sendLevelAndMode(station, step.LoadModeVolt, parseNumber(step.CurrentValue), count,
                             false, QString());
            sendToLoad(station, QStringLiteral("LOAD ON"));
        }
        const double stable = parseNumber(step.StableTime);
        if (stable > 0) {
            const RunState& run = station.run;
            WaitUntil(station.clock, stable * 1000.0, [&run] { return run.interrupted(); });
        }
    } else if (action == actions::LoadLevel) {
        // A level alone draws nothing from a load that an earlier step switched off.
        if (channelReady(station)) {
            sendLevelAndMode(station, step.LoadModeVolt, parseNumber(step.CurrentValue), count,
                             true, step.Frequency);
            sendToLoad(station, QStringLiteral("LOAD ON"));
        }
    } else if (action == actions::PlusLoad) {
        const double start = station.clock.monotonicMs();
        const bool connected = station.LoadConnected[0];
        if (connected) {
            sendToLoad(station,
                       levelCommand(QStringLiteral("CCP:HIGH "), parseNumber(step.LoadModeVolt)));
            sendToLoad(station,
                       levelCommand(QStringLiteral("CC:B "), parseNumber(step.CurrentValue)));
            sendToLoad(station,
                       levelCommand(QStringLiteral("PERD:HIGH "), parseNumber(step.StopTime)));
            sendToLoad(station,
                       levelCommand(QStringLiteral("PERD:LOW "), parseNumber(step.StopValue)));
            sendToLoad(station, levelCommand(QStringLiteral("VTH "), parseNumber(step.StableTime)));
            sendToLoad(station, levelCommand(QStringLiteral("COUNT "), parseNumber(step.StopAH)));
        }
        // The set-up may be long: Stop and Pause are let in, and no sequence starts after them.
        const double spent = station.clock.monotonicMs() - start;
        const RunState& run = station.run;
        const bool interrupted =
            WaitPrecisely(station.clock, parseNumber(step.MeasTime) - spent - kPulseLeadMs,
                          [&run] { return run.interrupted(); });
        if (connected && !interrupted)
            sendToLoad(station, QStringLiteral("DYNC ON"));
    }
}

void LoadOff(Station& station)
{
    if (channelReady(station))
        sendToLoad(station, QStringLiteral("LOAD OFF"));
}

void SupplyOff(Station&) {}

void OutputsOff(Station& station)
{
    SupplyOff(station);
    LoadOff(station);
}
