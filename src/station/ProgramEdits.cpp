#include "station/ProgramEdits.h"

#include "station/GridModel.h"

ProgramEdits::ProgramEdits(GridModel& grid, QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("ProgramEdits"));
    // Texts and rows are the program; colours, the top row and the current cell are not.
    connect(&grid, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (roles.isEmpty() || roles.contains(Qt::DisplayRole))
                    gridChanged();
            });
    connect(&grid, &QAbstractItemModel::rowsInserted, this, &ProgramEdits::gridChanged);
    connect(&grid, &QAbstractItemModel::rowsRemoved, this, &ProgramEdits::gridChanged);
    connect(&grid, &QAbstractItemModel::modelReset, this, &ProgramEdits::gridChanged);
}

void ProgramEdits::gridChanged()
{
    if (quiet_ != 0)
        return;
    markEdited();
    emit edited();
}

void ProgramEdits::markEdited()
{
    if (unsaved_)
        return;
    unsaved_ = true;
    emit changed();
}

void ProgramEdits::markSaved()
{
    unsaved_ = false;
    emit changed();
}
