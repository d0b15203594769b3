#include "testprogram/TestProgramFile.h"

#include "common/NumberText.h"
#include "settings/IniFile.h"
#include "station/Station.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace {

// clang-format off
const QString kOpenLoopMessage = QStringLiteral("Open Error, For - Loop use method have error, Please check it. (System auto addition LOOP function at last)");
// clang-format on
const QString kSaveLoopMessage =
    QStringLiteral("Save has Error, For - Loop use method have error, Please check it");
const QString kTooManyStepsMessage = QStringLiteral("Test Step too much, Please check it.");

// The flags of "TestStep Option": key, default on load, and the field they fill.
struct OptionFlag
{
    QString key;
    const char* fallback;
    int MeasureOptionSet::*member;
};

const std::array<OptionFlag, 12>& optionFlags()
{
    static const std::array<OptionFlag, 12> flags = {{
        {QStringLiteral("MeasureVoltage"), "1", &MeasureOptionSet::MeasureVoltage},
        {QStringLiteral("MeasureCurrent"), "1", &MeasureOptionSet::MeasureCurrent},
        {QStringLiteral("MeasurePower"), "1", &MeasureOptionSet::MeasurePower},
        {QStringLiteral("MeasureResistant"), "0", &MeasureOptionSet::MeasureResistant},
        {QStringLiteral("MeasureKWH"), "1", &MeasureOptionSet::MeasureKWH},
        {QStringLiteral("MeasureCapability"), "1", &MeasureOptionSet::MeasureCapability},
        {QStringLiteral("MeasureAddKWH"), "0", &MeasureOptionSet::MeasureAddKWH},
        {QStringLiteral("MeasureAddCapability"), "0", &MeasureOptionSet::MeasureAddCapability},
        {QStringLiteral("MeasureTemperature"), "0", &MeasureOptionSet::MeasureTemperature},
        {QStringLiteral("MeasureDCV"), "0", &MeasureOptionSet::MeasureDCV},
        {QStringLiteral("MeasureRefVoltage"), "0", &MeasureOptionSet::MeasureRefVoltage},
        {QStringLiteral("MeasureACIRDCIR"), "0", &MeasureOptionSet::MeasureACIRDCIR},
    }};
    return flags;
}

// The check boxes that show the flags, in the order a save writes them.
struct CheckBinding
{
    FormValue StationForm::*box;
    int MeasureOptionSet::*member;
    const char* key;
};

const std::array<CheckBinding, 6> kCheckBindings = {{
    {&StationForm::Check1, &MeasureOptionSet::MeasureVoltage, "MeasureVoltage"},
    {&StationForm::Check2, &MeasureOptionSet::MeasureCurrent, "MeasureCurrent"},
    {&StationForm::Check3, &MeasureOptionSet::MeasurePower, "MeasurePower"},
    {&StationForm::Check7, &MeasureOptionSet::MeasureResistant, "MeasureResistant"},
    {&StationForm::Check4, &MeasureOptionSet::MeasureKWH, "MeasureKWH"},
    {&StationForm::Check5, &MeasureOptionSet::MeasureCapability, "MeasureCapability"},
}};

// Defaults of a step's keys when the file lacks them.
const std::array<const char*, TestStep::kFieldCount> kStepDefaults = {
    "0", "0", "0", "0", "0", "0", "0", "1", "NextStep", "40"};
constexpr int kFrequencyField = 9;

QString refusal(const QString& path, const QString& problem)
{
    return QStringLiteral("Cannot open the test program %1: %2; the program shown is unchanged.")
        .arg(QDir::toNativeSeparators(path), problem);
}

QString refusal(const QString& path, const QString& section, const QString& key,
                const QString& value, const QString& problem)
{
    return refusal(path,
                   QStringLiteral("%1 of [%2] is \"%3\", %4").arg(key, section, value, problem));
}

} // namespace

QString programkeys::stepSection(int stepNumber)
{
    return QStringLiteral("Step%1").arg(stepNumber);
}

std::optional<ProgramFileContent> readTestProgram(const QString& path, QString* error)
{
    const auto refuseFile = [&](const QString& problem) {
        if (error)
            *error = refusal(path, problem);
        return std::nullopt;
    };
    if (!QFileInfo::exists(path))
        return refuseFile(QStringLiteral("the file does not exist"));
    IniFile file(path);
    if (!file.load())
        return refuseFile(file.loadFailure());
    if (!file.hasSection(programkeys::OptionSection))
        return refuseFile(QStringLiteral("it has no [%1] section, so it is not a test program")
                              .arg(programkeys::OptionSection));
    const auto refuse = [&](const QString& key, const QString& value, const QString& problem,
                            const QString& section = programkeys::OptionSection) {
        if (error)
            *error = refusal(path, section, key, value, problem);
        return std::nullopt;
    };

    // Everything the load needs as a number is checked before anything changes.
    ProgramFileContent content;
    for (const OptionFlag& flag : optionFlags()) {
        const QString text = file.read(programkeys::OptionSection, flag.key, flag.fallback);
        if (!isNumberText(text))
            return refuse(flag.key, text, QStringLiteral("not a number"));
        content.options.*flag.member = roundToInt(parseNumber(text));
    }
    const QString measureTime =
        file.read(programkeys::OptionSection, programkeys::MeasureTime, QStringLiteral("1"));
    if (!isNumberText(measureTime))
        return refuse(programkeys::MeasureTime, measureTime, QStringLiteral("not a number"));
    content.options.MeasureTime = roundTo4(parseNumber(measureTime));
    const QString totalText =
        file.read(programkeys::OptionSection, programkeys::TotalStepCount, QStringLiteral("0"));
    if (!isWholeNumberText(totalText))
        return refuse(programkeys::TotalStepCount, totalText, QStringLiteral("not a whole number"));
    const double total = parseNumber(totalText);
    if (total < 0 || total > kMaxProgramSteps)
        return refuse(programkeys::TotalStepCount, totalText,
                      QStringLiteral("outside 0 to %1 steps").arg(kMaxProgramSteps));

    content.steps.resize(static_cast<std::size_t>(total));
    static const QStringList knownActions = actions::all();
    for (int n = 1; n <= static_cast<int>(total); ++n) {
        const QString section = programkeys::stepSection(n);
        // A step the file does not hold would run as a phantom step of default values.
        if (!file.hasSection(section))
            return refuseFile(QStringLiteral("%1 is %2, but there is no [%3] section")
                                  .arg(programkeys::TotalStepCount, totalText, section));
        TestStep& step = content.steps[static_cast<std::size_t>(n - 1)];
        for (int f = 0; f < TestStep::kFieldCount; ++f) {
            // Only a load level's frequency is read.
            if (f == kFrequencyField && step.ActionMode != actions::LoadLevel)
                continue;
            step.field(f) = file.read(section, kStepFieldKeys[static_cast<std::size_t>(f)],
                                      kStepDefaults[static_cast<std::size_t>(f)]);
        }
        if (!knownActions.contains(step.ActionMode))
            return refuse(
                kStepFieldKeys[0], step.ActionMode,
                QStringLiteral("which is not one of the %1 actions").arg(knownActions.size()),
                section);
    }
    return content;
}

void applyTestProgram(Station& station, const ProgramFileContent& content)
{
    // What the file holds is no edit; a loop repair is, since the file lacks it.
    std::optional<ProgramEdits::Quiet> loading(station.programEdits);
    station.MeasureOptions = content.options;
    for (const CheckBinding& b : kCheckBindings)
        (station.form.*b.box).setFlag(content.options.*b.member != 0);

    GridModel& grid = station.form.TestStepGrid;
    const int steps = static_cast<int>(content.steps.size());
    grid.beginBulkUpdate();
    grid.setRows(steps + 1);
    LoopBalance balance;
    for (int n = 1; n <= steps; ++n) {
        const TestStep& step = content.steps[static_cast<std::size_t>(n - 1)];
        TestStep& record = station.StepTable[static_cast<std::size_t>(n - 1)];
        grid.setText(n, 0, QString::number(n));
        for (int f = 0; f < TestStep::kFieldCount; ++f) {
            // A step other than a load level keeps the frequency its record and cell held.
            if (f == kFrequencyField && step.ActionMode != actions::LoadLevel)
                continue;
            record.field(f) = step.field(f);
            grid.setText(n, f + 1, step.field(f));
        }
        balance.count(step.ActionMode);
    }
    station.TotalStepCount = steps;

    if (!balance.balanced()) {
        // Close the open loops at the end: inner ones first. The appended steps go into the
        // table too, so that a run without a save in between runs exactly what the grid shows;
        // the table has room for one step beyond the largest program.
        const auto append = [&](int count, const QString& action) {
            for (int i = 0; i < count && grid.rows() - 1 < kStepTableSize; ++i) {
                const int row = grid.rows();
                grid.setRows(row + 1);
                grid.setText(row, 0, QString::number(row));
                grid.setText(row, 1, action);
                TestStep& record = station.StepTable[static_cast<std::size_t>(row - 1)];
                const QString frequency = record.Frequency;
                record = TestStep{};
                record.ActionMode = action;
                record.Frequency = frequency;
            }
        };
        append(balance.inner, actions::Loop2);
        append(balance.outer, actions::Loop);
        station.TotalStepCount = grid.rows() - 1;
    }
    grid.endBulkUpdate();
    loading.reset();
    station.programEdits.markSaved();
    if (!balance.balanced()) {
        station.programEdits.markEdited();
        station.prompts.message(kOpenLoopMessage);
    }
}

bool LoadTestProgram(Station& station)
{
    QString error;
    const auto content = readTestProgram(station.settings.TestFileName, &error);
    if (!content) {
        station.prompts.message(error);
        return false;
    }
    applyTestProgram(station, *content);
    return true;
}

bool writeTestProgram(Station& station, IniFile& file)
{
    const GridModel& grid = station.form.TestStepGrid;
    const int steps = grid.rows() - 1;
    if (steps > kMaxProgramSteps) {
        station.prompts.message(kTooManyStepsMessage);
        return false;
    }
    for (const CheckBinding& b : kCheckBindings)
        file.write(programkeys::OptionSection, QString::fromLatin1(b.key),
                   (station.form.*b.box).flag() ? QStringLiteral("1") : QStringLiteral("0"));
    file.write(programkeys::OptionSection, programkeys::MeasureTime,
               formatGeneral(roundTo4(station.MeasureOptions.MeasureTime)));
    file.write(programkeys::OptionSection, programkeys::TotalStepCount, QString::number(steps));
    for (int n = 1; n <= steps; ++n) {
        const QString section = programkeys::stepSection(n);
        for (int f = 0; f < TestStep::kFieldCount; ++f)
            file.write(section, kStepFieldKeys[static_cast<std::size_t>(f)], grid.text(n, f + 1));
    }
    return true;
}

TestStep stepInGridRow(const GridModel& grid, int row)
{
    TestStep step;
    for (int f = 0; f < TestStep::kFieldCount; ++f)
        step.field(f) = grid.text(row, f + 1);
    return step;
}

std::vector<TestStep> stepsInGrid(const GridModel& grid)
{
    std::vector<TestStep> steps;
    for (int n = 1; n < grid.rows(); ++n)
        steps.push_back(stepInGridRow(grid, n));
    return steps;
}

void programSaved(Station& station)
{
    for (const CheckBinding& b : kCheckBindings)
        station.MeasureOptions.*b.member = (station.form.*b.box).flag() ? 1 : 0;
    const std::vector<TestStep> steps = stepsInGrid(station.form.TestStepGrid);
    station.TotalStepCount = static_cast<int>(steps.size());
    std::copy(steps.begin(), steps.end(), station.StepTable.begin());
    station.programEdits.markSaved();
    LoopBalance balance;
    for (const TestStep& step : steps)
        balance.count(step.ActionMode);
    if (!balance.balanced())
        station.prompts.message(kSaveLoopMessage);
}

bool SaveTestProgram(Station& station)
{
    IniFile file(station.settings.TestFileName);
    QString error;
    if (!file.load(&error)) {
        station.prompts.message(error);
        return false;
    }
    if (!writeTestProgram(station, file))
        return false;
    if (!file.save(&error)) {
        station.prompts.message(error);
        return false;
    }
    programSaved(station);
    return true;
}
