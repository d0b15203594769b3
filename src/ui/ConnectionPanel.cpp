#include "ui/ConnectionPanel.h"

#include "settings/LinkRecord.h"
#include "settings/SettingsFiles.h"
#include "station/ProgramCommands.h"
#include "station/Station.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int kAddressItems = 33;    // serial ports and GPIB addresses "00" to "32"
constexpr int kHiddenLoadChecks = 5; // LoadCheck_3 to LoadCheck_7: channels that are not served

QComboBox* addressCombo(const QString& name, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    for (int i = 0; i < kAddressItems; ++i)
        combo->addItem(QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
    return combo;
}

QLineEdit* textBox(const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

} // namespace

ConnectionPanel::ConnectionPanel(Station& station, QWidget* parent)
    : QGroupBox(QStringLiteral("Load Connection Setup"), parent), station_(station)
{
    setObjectName(QStringLiteral("ConnectionFrame"));
    setAutoFillBackground(true);

    auto* grid = new QGridLayout(this);
    const QStringList linkCaptions = {QStringLiteral("LAN"), QStringLiteral("RS232/USB"),
                                      QStringLiteral("GPIB")};
    for (int i = 0; i < 3; ++i) {
        auto* option = new QRadioButton(this);
        option->setObjectName(QStringLiteral("Option1_%1").arg(i));
        auto* check = new QCheckBox(linkCaptions[i], this);
        check->setObjectName(QStringLiteral("LoadCheck_%1").arg(i));
        grid->addWidget(option, i, 0);
        grid->addWidget(check, i, 1);
    }
    for (int i = 3; i < 3 + kHiddenLoadChecks; ++i) {
        auto* check = new QCheckBox(this);
        check->setObjectName(QStringLiteral("LoadCheck_%1").arg(i));
        check->hide();
    }

    const auto label = [this](const QString& text) { return new QLabel(text, this); };
    auto* ip = textBox(QStringLiteral("txtIP"), this);
    ip->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000.000.000.000  ")));
    auto* port = textBox(QStringLiteral("txtPort"), this);
    port->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000  ")));
    grid->addWidget(label(QStringLiteral("Load IP")), 0, 2);
    grid->addWidget(ip, 0, 3);
    grid->addWidget(label(QStringLiteral("PORT")), 0, 4);
    grid->addWidget(port, 0, 5);

    auto* baudRate = new QComboBox(this);
    baudRate->setObjectName(QStringLiteral("LoadBaudRateCombo_0"));
    baudRate->setEditable(true);
    baudRate->addItems({QStringLiteral("9600"), QStringLiteral("115200")});
    grid->addWidget(label(QStringLiteral("COM")), 1, 2);
    grid->addWidget(addressCombo(QStringLiteral("LoadComPortCombo_0"), this), 1, 3);
    grid->addWidget(label(QStringLiteral("BaudRate")), 1, 4);
    grid->addWidget(baudRate, 1, 5);

    grid->addWidget(label(QStringLiteral("Address")), 2, 2);
    grid->addWidget(addressCombo(QStringLiteral("LoadComPortCombo_1"), this), 2, 3);

    // The RS-485 converter, its unit address and the group count are kept but not offered.
    auto* rs485 = new QCheckBox(QStringLiteral("RS-232 to RS-485"), this);
    rs485->setObjectName(QStringLiteral("PS485Check"));
    rs485->hide();
    textBox(QStringLiteral("PS485IDText"), this)->hide();
    textBox(QStringLiteral("MSCountText"), this)->hide();

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ConnectOKCommand"));
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("ConnectCancelCommand"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancelButton);
    grid->addLayout(buttons, 3, 0, 1, 6);
    connect(ok, &QPushButton::clicked, this, &ConnectionPanel::accept);
    connect(cancelButton, &QPushButton::clicked, this, &ConnectionPanel::cancel);
}

void ConnectionPanel::load()
{
    LoadLinkSettings(station_);
}

bool ConnectionPanel::accept()
{
    QString message;
    if (!checkPortText(station_.form.txtPort.text(), &message)) {
        station_.prompts.message(message + QStringLiteral(" Nothing was stored."));
        return false;
    }
    if (!SaveLinkSettings(station_))
        return false;
    emit closeRequested();
    SaveCommand(station_);
    return true;
}

void ConnectionPanel::cancel()
{
    emit closeRequested();
}
