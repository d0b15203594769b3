#include "station/ProgramCommands.h"

#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/OperatorPrompts.h"
#include "station/Station.h"
#include "testprogram/TestProgramFile.h"

#include <QDir>
#include <QFileInfo>

QString qtFileFilter(const QString& dialogFilter)
{
    // "description|pattern|description|pattern": Qt wants "description (pattern)" joined by ";;".
    const QStringList parts = dialogFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString pattern = QLatin1Char('(') + parts[i + 1] + QLatin1Char(')');
        filters << (description.endsWith(pattern) ? description
                                                  : description + QLatin1Char(' ') + pattern);
    }
    return filters.join(QStringLiteral(";;"));
}

const QString kProgramFileFilter =
    qtFileFilter(QStringLiteral("INI檔(*.ini)|*.ini|所有檔案(*.*)|*.*"));

namespace {

QString dialogPreset(const Station& station)
{
    if (!station.settings.TestFileName.isEmpty())
        return station.settings.TestFileName;
    return QDir(station.stationDir()).filePath(QStringLiteral("TESTTMP.INI"));
}

QString rememberedName(const QString& fileName)
{
    return QDir::toNativeSeparators(QDir::cleanPath(QDir().absoluteFilePath(fileName)));
}

} // namespace

bool settleUnsavedEdits(Station& station)
{
    if (!station.programEdits.unsaved())
        return true;
    const QString text =
        QStringLiteral("The test program %1 has changes that are not saved. Save them?")
            .arg(QFileInfo(station.settings.TestFileName).fileName());
    switch (station.prompts.question(
        text, {PromptAnswer::Save, PromptAnswer::Discard, PromptAnswer::Cancel})) {
    case PromptAnswer::Save:
        return SaveCommand(station);
    case PromptAnswer::Discard:
        return true;
    default: // Cancel
        break;
    }
    return false;
}

bool OpenCommand(Station& station)
{
    if (!settleUnsavedEdits(station))
        return false;
    const QString chosen = station.prompts.openFileName(kProgramFileFilter, dialogPreset(station));
    if (chosen.isEmpty())
        return false;
    // A file that cannot be used changes nothing: not the program shown, not the settings.
    QString error;
    const QString fileName = rememberedName(chosen);
    const auto content = readTestProgram(fileName, &error);
    if (!content) {
        station.prompts.message(error);
        return false;
    }
    station.settings.TestFileName = fileName;
    if (!WriteIniString(station.settingsFilePath(), settingskeys::MainSection,
                        settingskeys::testFileNameKey(station.settings.ChannelNo), fileName,
                        &error))
        station.prompts.message(error);
    station.form.TestStepGrid.clearTexts();
    InitGrids(station);
    LoadLinkSettings(station);
    applyTestProgram(station, *content);
    return true;
}

bool SaveCommand(Station& station)
{
    const QString chosen = station.prompts.saveFileName(kProgramFileFilter, dialogPreset(station));
    if (chosen.isEmpty())
        return false;
    return saveProgramAs(station, chosen);
}

bool saveProgramAs(Station& station, const QString& fileName)
{
    const QString previous = station.settings.TestFileName;
    station.settings.TestFileName = rememberedName(fileName);
    IniFile settingsFile(station.settingsFilePath());
    IniFile programFile(station.settings.TestFileName);
    QString error;
    const auto fail = [&](const QString& message) {
        // The program stays attached to the file it came from.
        station.settings.TestFileName = previous;
        if (!message.isEmpty())
            station.prompts.message(message);
        return false;
    };
    if (!settingsFile.load(&error) || !programFile.load(&error))
        return fail(error);
    settingsFile.write(settingskeys::MainSection,
                       settingskeys::testFileNameKey(station.settings.ChannelNo),
                       station.settings.TestFileName);
    if (!writeTestProgram(station, programFile))
        return fail({});
    writeLinkSettings(station, settingsFile, programFile);
    // The program first: a settings file that names a program which was not written would
    // point the next start at the wrong file.
    if (!programFile.save(&error))
        return fail(error);
    programSaved(station);
    // The program is on disk; a settings file that cannot be written only costs the next start
    // its memory of this file name, which the operator is told.
    if (!settingsFile.save(&error))
        station.prompts.message(error);
    return true;
}
