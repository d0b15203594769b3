#pragma once

#include <QObject>

class GridModel;

// Whether the step grid holds edits that the program file does not: any change of the texts or
// rows of the step grid (the step editor, in-place editing, Delete, Move, Paste, the loop repair
// of a load) sets it, and loading or saving the program clears it. Changes made while a Quiet
// lives are not edits: setting the grid up, loading, and the run's own counting in loop and
// dwell cells.
class ProgramEdits : public QObject
{
    Q_OBJECT

public:
    explicit ProgramEdits(GridModel& grid, QObject* parent = nullptr);

    bool unsaved() const { return unsaved_; }
    // The grid now shows the program file as it is on disk (just loaded or saved).
    void markSaved();
    void markEdited();

    class [[nodiscard]] Quiet
    {
    public:
        explicit Quiet(ProgramEdits& edits) : edits_(edits) { ++edits_.quiet_; }
        ~Quiet() { --edits_.quiet_; }
        Quiet(const Quiet&) = delete;
        Quiet& operator=(const Quiet&) = delete;

    private:
        ProgramEdits& edits_;
    };
    Quiet quiet() { return Quiet(*this); }

signals:
    // Unsaved edits came or went, or the program was loaded or saved (perhaps from another file).
    void changed();
    // The program in the grid was edited (every edit, also once edits are unsaved already).
    void edited();

private:
    void gridChanged();

    bool unsaved_ = false;
    int quiet_ = 0;
};
