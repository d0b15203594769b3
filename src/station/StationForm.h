#pragma once

#include "station/FormValue.h"
#include "station/GridModel.h"

#include <QHash>
#include <QObject>

#include <array>

// The main window's state without the window: the grids, the texts of boxes and labels, the
// check boxes and option buttons, the combo lists, the Frame2 caption and colours, and the
// Enabled flags of the controls the run switches. Every value carries the object name of the
// control that shows it (arrays of controls are named with "_" and the index, "LoadCheck_0").
class StationForm : public QObject
{
    Q_OBJECT

public:
    explicit StationForm(QObject* parent = nullptr);

    // Grids.
    GridModel TestStepGrid{QStringLiteral("TestStepGrid"), this};
    GridModel grdPhase3{QStringLiteral("grdPhase3"), this};
    GridModel LoadStatusGrid{QStringLiteral("LoadStatusGrid"), this};
    GridModel CopyPasteGrid{QStringLiteral("CopyPasteGrid"), this};
    // Records of a run without a CSV log (the settings' log switch off).
    GridModel RecordList{QStringLiteral("RecordList"), this};
    // The program check's findings: severity, step, message (and the column, hidden).
    GridModel ProgramFindings{QStringLiteral("ProgramFindings"), this};

    // Serial number, device box, running indicator, load count.
    FormValue SNText{QStringLiteral("SNText"), QString(), this};
    FormValue Combo1{QStringLiteral("Combo1"), QString(), this};
    FormValue WorkLabel{QStringLiteral("WorkLabel"), QString(), this};
    FormValue LoadCountLabel{QStringLiteral("LoadCountLabel"), QString(), this};
    FormValue Frame2Caption{QStringLiteral("Frame2"), QStringLiteral("Channel "), this};
    FormValue Frame2BackColor{QStringLiteral("Frame2BackColor"), QVariant::fromValue(QColor()),
                              this};
    FormValue Frame2ForeColor{QStringLiteral("Frame2ForeColor"), QVariant::fromValue(QColor()),
                              this};
    // One line of run progress for the window's status bar.
    FormValue RunStatus{QStringLiteral("RunStatus"), QString(), this};
    // The estimated run time of the program shown, with the count of the check's findings.
    FormValue ProgramEstimate{QStringLiteral("ProgramEstimate"), QString(), this};

    // Measurement values.
    FormValue VoltageText{QStringLiteral("VoltageText"), QStringLiteral("0.0000"), this};
    FormValue CurrentText{QStringLiteral("CurrentText"), QStringLiteral("0.0000"), this};
    FormValue PowerText{QStringLiteral("PowerText"), QStringLiteral("0.0000"), this};
    FormValue ResText{QStringLiteral("ResText"), QStringLiteral("0.0000"), this};
    FormValue KWHText{QStringLiteral("KWHText"), QStringLiteral("0.00000000"), this};
    FormValue AHText{QStringLiteral("AHText"), QStringLiteral("0.00000000"), this};
    FormValue Loop1Text{QStringLiteral("Loop1Text"), QString(), this};
    FormValue Loop2Text{QStringLiteral("Loop2Text"), QString(), this};
    FormValue TimeText{QStringLiteral("TimeText"), QString(), this};

    // Measurement option boxes (Check6 does not exist).
    FormValue Check1{QStringLiteral("Check1"), true, this};
    FormValue Check2{QStringLiteral("Check2"), true, this};
    FormValue Check3{QStringLiteral("Check3"), true, this};
    FormValue Check4{QStringLiteral("Check4"), true, this};
    FormValue Check5{QStringLiteral("Check5"), true, this};
    FormValue Check7{QStringLiteral("Check7"), false, this};

    // Connection panel.
    std::array<FormValue*, 3> Option1{};   // 0 TCP/IP, 1 serial, 2 GPIB
    std::array<FormValue*, 8> LoadCheck{}; // 0 is ticked when the window opens
    FormValue txtIP{QStringLiteral("txtIP"), QString(), this};
    FormValue txtPort{QStringLiteral("txtPort"), QStringLiteral("4001"), this};
    FormValue LoadComPortText{QStringLiteral("LoadComPortCombo_0"), QString(), this};
    FormValue GpibAddressText{QStringLiteral("LoadComPortCombo_1"), QString(), this};
    FormValue LoadBaudRateText{QStringLiteral("LoadBaudRateCombo_0"), QString(), this};
    FormValue PS485Check{QStringLiteral("PS485Check"), false, this};
    FormValue PS485IDText{QStringLiteral("PS485IDText"), QStringLiteral("001"), this};
    FormValue MSCountText{QStringLiteral("MSCountText"), QStringLiteral("1"), this};

    // Item lists of the action and mode combo boxes.
    FormValue TestStepActionCombo{QStringLiteral("TestStepActionCombo"), QStringList(), this};
    FormValue SetStepActionCombo{QStringLiteral("SetStepActionCombo"), QStringList(), this};
    FormValue TestStepModeCombo{QStringLiteral("TestStepModeCombo"), QStringList(), this};

    // Enabled flag of a control, by its object name. The run switches these controls, and greys
    // the measured values while they are not live (nothing measured yet, the load off or lost).
    FormValue& enabled(const QString& control);
    static const QStringList& switchedControls();
    static const QStringList& measurementControls();

    // The value of the given object name, or nullptr.
    FormValue* value(const QString& name) const;

private:
    QHash<QString, FormValue*> enabled_;
};
