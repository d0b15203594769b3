#pragma once

#include <QWidget>

class QLabel;
class QTableView;
class Station;

// The program check's findings below the step grid ("CheckFrame"): a caption that counts them,
// the list ProgramFindings (severity, step, message) and a button that closes the list.
// Choosing a finding selects its step's row, at its column, in the step grid.
class CheckPanel : public QWidget
{
    Q_OBJECT

public:
    explicit CheckPanel(Station& station, QWidget* parent = nullptr);

    QTableView* list() const { return list_; }

    // Checks the program shown and lists what the check found.
    void check();
    // Shows the list as the last check left it.
    void showFindings();

private:
    void choose(int row);

    Station& station_;
    QLabel* caption_ = nullptr;
    QTableView* list_ = nullptr;
};
