#pragma once

#include <QGroupBox>

class Station;

// The connection set-up panel "Load Connection Setup": how the load is reached (TCP/IP, serial
// or GPIB) and with which address, port and rate. Its boxes are bound to the station form's
// values of the same names; opening reads the stored link settings into them, OK stores them in
// ACL3.INI and the program file and then saves the program, Cancel leaves everything stored as
// it was. The panel does not block the rest of the window.
class ConnectionPanel : public QGroupBox
{
    Q_OBJECT

public:
    explicit ConnectionPanel(Station& station, QWidget* parent = nullptr);

    // Shows the stored link settings in the panel and the load status grid.
    void load();
    // OK: refuses a port that is not a whole number from 1 to 65535 with a message and stores
    // nothing; otherwise stores the link settings, asks to be closed, and runs the Save command.
    // Returns whether the settings were stored.
    bool accept();
    // Cancel: asks to be closed; nothing is stored.
    void cancel();

signals:
    void closeRequested();

private:
    Station& station_;
};
