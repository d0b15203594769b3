#include "ui/CheckPanel.h"

#include "station/ProgramCheckCommands.h"
#include "station/Station.h"
#include "ui/GridView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

CheckPanel::CheckPanel(Station& station, QWidget* parent) : QWidget(parent), station_(station)
{
    setObjectName(QStringLiteral("CheckFrame"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    auto* head = new QHBoxLayout;
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("CheckCaption"));
    head->addWidget(caption_, 1);
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("CheckCloseCommand"));
    close->setToolTip(QStringLiteral("Close the list"));
    close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &QWidget::hide);
    head->addWidget(close);
    layout->addLayout(head);

    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("ProgramFindings"));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setStretchLastSection(true);
    new GridViewBinding(*list_, station_.form.ProgramFindings);
    layout->addWidget(list_, 1);
    // A click or Enter on a finding; a model reset (a new check) chooses nothing.
    connect(list_, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { choose(index.row()); });
    connect(list_, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { choose(index.row()); });
    hide();
}

void CheckPanel::check()
{
    CheckCommand(station_);
    showFindings();
}

void CheckPanel::showFindings()
{
    const GridModel& findings = station_.form.ProgramFindings;
    int errors = 0;
    for (int row = findings.fixedRows(); row < findings.rows(); ++row)
        errors += findings.text(row, 0) == QLatin1String("Error") ? 1 : 0;
    const int warnings = findings.rows() - findings.fixedRows() - errors;
    caption_->setText(
        errors + warnings == 0
            ? QStringLiteral("Program check: no errors, no warnings")
            : QStringLiteral("Program check: %1 %2, %3 %4 (choose one to see its "
                             "step)")
                  .arg(errors)
                  .arg(errors == 1 ? QStringLiteral("error") : QStringLiteral("errors"))
                  .arg(warnings)
                  .arg(warnings == 1 ? QStringLiteral("warning") : QStringLiteral("warnings")));
    show();
}

void CheckPanel::choose(int row)
{
    const GridModel& findings = station_.form.ProgramFindings;
    const int gridRow = row + findings.fixedRows();
    const int step = findings.text(gridRow, 1).toInt();
    if (step <= 0)
        return;
    const int column = std::max(findings.text(gridRow, 3).toInt(), 1);
    GridModel& steps = station_.form.TestStepGrid;
    steps.setCurrentCell(step, column);
}
