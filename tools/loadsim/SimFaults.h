#pragma once

#include <QString>

// Faults the simulated load can be told to show, to exercise the station's handling of a load
// that misbehaves. The reply faults (form, delay, split) touch every reply, the pulse result
// line included, unless `only` or `count` narrow them down.
struct SimFaults
{
    enum class ReplyForm
    {
        Normal,
        None,        // no reply at all
        SingleField, // only the text before the first comma
        Empty,       // a bare LF
        Garbage,     // the line kGarbageReply instead of the reply
    };

    ReplyForm form = ReplyForm::Normal;
    int delayMs = 0;      // each reply goes out this long after its command
    int splitPauseMs = 0; // > 0: each reply goes out in two halves, this long apart
    // > 0: the Nth command line from now is carried out but not answered, and its peer is
    // dropped: a TCP or GPIB-bridge connection is closed (a new one is served normally), the
    // pseudo-terminal goes deaf (reads and answers nothing) until the faults are set again.
    int dropAfter = 0;
    // What the load does after it dropped its peer: take a new connection at once (the
    // pseudo-terminal stays deaf), refuse connections (TCP and GPIB bridge closed, the
    // pseudo-terminal deaf), or take them and answer nothing.
    enum class AfterDrop
    {
        Accept,
        Refuse,
        Silent,
    };
    AfterDrop afterDrop = AfterDrop::Accept;
    // > 0: the load is back to normal this many (real) milliseconds after the drop: listening,
    // hearing and answering again. 0: it stays as afterDrop leaves it.
    int downMs = 0;
    // Reply faults only for this command (e.g. "GLOB:MEAS:POW?", "DYNC ON"; letter case and
    // surrounding blanks do not matter); empty: for every command.
    QString only;
    // > 0: reply faults only for the next `count` replies they apply to, then normal replies.
    int count = 0;

    bool operator==(const SimFaults&) const = default;
};

// What a garbage reply looks like: no number, no comma.
inline constexpr char kGarbageReply[] = "#?@!~%&*";
