#pragma once

#include <QObject>
#include <QPointF>
#include <QString>

#include <array>
#include <memory>
#include <vector>

// The three measured quantities of each phase, in the order of the log's columns.
enum class Quantity
{
    Voltage,
    Current,
    Power
};

// A run's recorded values, instant by instant: run time, the voltage, current and power of
// phases A, B and C (NaN where a value was not measured), the charge drawn since the run began,
// and where the steps begin. The live plot, the log viewer and the report all read a run through
// this store, so they see the same numbers.
//
// Beside the values it keeps a min/max summary of every block of kBlock instants, of every
// block of kBlock blocks and so on, so that the envelope of a whole day of records at one point
// per pixel column costs about as much as that of a few minutes.
class SeriesStore : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPhaseCount = 3;
    static constexpr int kQuantityCount = 3;
    static constexpr int kSeriesCount = kPhaseCount * kQuantityCount;
    using Values = std::array<double, kSeriesCount>;

    // The series of a quantity of a phase (0 = A): the log's column order VA VB VC IA ... PC.
    static constexpr int series(Quantity quantity, int phase)
    {
        return static_cast<int>(quantity) * kPhaseCount + phase;
    }
    static QString quantityName(Quantity quantity); // "Voltage"
    static QString unit(Quantity quantity);         // "V"
    static QString seriesName(int series);          // "Voltage A"

    // What a plot runs along: run time in seconds, or charge drawn in Ah (the battery view).
    enum class Key
    {
        Time,
        Charge
    };

    // The first instant of a step, or of another pass of a loop over the same step.
    struct StepMark
    {
        qsizetype instant = 0;
        int step = 0;
        QString loop1;
    };

    explicit SeriesStore(QObject* parent = nullptr);
    ~SeriesStore() override;

    void clear();
    // One recorded instant. Times must not go back; a time before the last one is taken as the
    // last one. A new (step, loop1) pair begins a step mark.
    void append(double seconds, const Values& values, int step, const QString& loop1 = {});

    qsizetype size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }
    double time(qsizetype instant) const { return at(instant).time[offset(instant)]; }
    // Ah drawn since the first instant: the measured phases' current times the time since the
    // instant before (a load only sinks current; negative readings add nothing).
    double charge(qsizetype instant) const { return at(instant).charge[offset(instant)]; }
    double value(int series, qsizetype instant) const
    {
        return at(instant).values[offset(instant)][static_cast<std::size_t>(series)];
    }
    double key(Key key, qsizetype instant) const
    {
        return key == Key::Time ? time(instant) : charge(instant);
    }
    const std::vector<StepMark>& stepMarks() const { return marks_; }
    // The step mark an instant belongs to (nullptr for an empty store).
    const StepMark* markAt(qsizetype instant) const;

    // The first instant whose key is at least x (size() when none): keys never go back.
    qsizetype lowerBound(Key key, double x) const;
    // The instant whose key is nearest to x (-1 for an empty store).
    qsizetype nearest(Key key, double x) const;

    struct Range
    {
        double min = 0;
        double max = 0;
        bool valid = false; // false when no instant of the range holds a measured value
    };
    // The lowest and highest measured value of a series over instants [from, to).
    Range range(int series, qsizetype from, qsizetype to) const;

    // The points that draw each series of `which` between keys x0 and x1 on `columns` pixel
    // columns, into out[series]. Few instants come back as they are; more come back as each
    // column's minimum and maximum at the column's middle, and a column whose instants hold no
    // measured value as a NaN point (a gap). The instant before x0 and the one after x1 are
    // added so lines reach the edges.
    using Points = std::array<std::vector<QPointF>, kSeriesCount>;
    void envelope(Key key, double x0, double x1, int columns, const std::vector<int>& which,
                  Points& out) const;

    // Bytes held for the values, summaries and marks.
    std::size_t memoryBytes() const;

signals:
    void appended();
    void cleared();

private:
    static constexpr int kChunkBits = 12;
    static constexpr qsizetype kChunk = qsizetype(1) << kChunkBits;
    static constexpr int kBlockBits = 5;
    static constexpr qsizetype kBlock = qsizetype(1) << kBlockBits;

    // Fixed-size chunks: growth never copies or doubles what is already held.
    struct Chunk
    {
        std::array<double, kChunk> time;
        std::array<double, kChunk> charge;
        // An instant's values side by side: a summary reads them in one go.
        std::array<Values, kChunk> values;
    };
    // The extremes of every series over a block of instants; +inf/-inf when none was measured.
    struct Summary
    {
        Values min;
        Values max;
        Summary();
        void take(const Values& low, const Values& high);
    };

    const Chunk& at(qsizetype instant) const
    {
        return *chunks_[static_cast<std::size_t>(instant >> kChunkBits)];
    }
    static std::size_t offset(qsizetype instant)
    {
        return static_cast<std::size_t>(instant & (kChunk - 1));
    }
    void summarise();
    // Adds the extremes of instants [from, to) to `sum`, from the largest whole blocks inside.
    void extremes(qsizetype from, qsizetype to, Summary& sum) const;
    // The first instant of [low, high) whose key is at least x, or high.
    qsizetype bound(Key key, double x, qsizetype low, qsizetype high) const;

    std::vector<std::unique_ptr<Chunk>> chunks_;
    qsizetype size_ = 0;
    // levels_[k] summarises blocks of kBlock^(k+1) instants; only whole blocks are kept.
    std::vector<std::vector<Summary>> levels_;
    std::vector<StepMark> marks_;
};
