#include "station/StationForm.h"

#include "settings/LinkRecord.h"

StationForm::StationForm(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("StationForm"));
    for (int i = 0; i < static_cast<int>(Option1.size()); ++i)
        Option1[i] = new FormValue(QStringLiteral("Option1_%1").arg(i), false, this);
    for (int i = 0; i < static_cast<int>(LoadCheck.size()); ++i)
        LoadCheck[i] = new FormValue(QStringLiteral("LoadCheck_%1").arg(i), i == 0, this);
    txtIP.setText(kDefaultLoadIp);
    Combo1.setText(QStringLiteral("DEV5"));
    for (const QString& control : switchedControls()) {
        const bool runOnly =
            control == QLatin1String("StopCommand") || control == QLatin1String("PauseCommand");
        enabled_.insert(control,
                        new FormValue(control + QStringLiteral(".Enabled"), !runOnly, this));
    }
    for (const QString& control : measurementControls())
        enabled_.insert(control, new FormValue(control + QStringLiteral(".Enabled"), false, this));
}

const QStringList& StationForm::switchedControls()
{
    static const QStringList controls = {
        QStringLiteral("StartCommand"), QStringLiteral("AddCommand"), QStringLiteral("DelCommand"),
        QStringLiteral("InsCommand"), QStringLiteral("SaveCommand"), QStringLiteral("OpenCommand"),
        QStringLiteral("ConnectCommand"), QStringLiteral("MoveUpCommand"),
        QStringLiteral("MoveDnCommand"), QStringLiteral("SNText"),
        // The step editor may be open when a run starts: its OK must not change the program
        // while it runs.
        QStringLiteral("OKCommand"), QStringLiteral("StopCommand"), QStringLiteral("PauseCommand")};
    return controls;
}

const QStringList& StationForm::measurementControls()
{
    static const QStringList controls = {QStringLiteral("VoltageText"),
                                         QStringLiteral("CurrentText"), QStringLiteral("PowerText"),
                                         QStringLiteral("ResText"), QStringLiteral("grdPhase3")};
    return controls;
}

FormValue& StationForm::enabled(const QString& control)
{
    auto it = enabled_.find(control);
    Q_ASSERT_X(it != enabled_.end(), "StationForm::enabled", "not a switched control");
    return **it;
}

FormValue* StationForm::value(const QString& name) const
{
    return findChild<FormValue*>(name, Qt::FindDirectChildrenOnly);
}
