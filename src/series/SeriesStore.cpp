#include "series/SeriesStore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSecondsPerHour = 3600.0;

struct QuantityText
{
    const char* name;
    const char* unit;
};
constexpr std::array<QuantityText, SeriesStore::kQuantityCount> kQuantityTexts = {
    {{"Voltage", "V"}, {"Current", "A"}, {"Power", "W"}}};

} // namespace

QString SeriesStore::quantityName(Quantity quantity)
{
    return QString::fromLatin1(kQuantityTexts[static_cast<std::size_t>(quantity)].name);
}

QString SeriesStore::unit(Quantity quantity)
{
    return QString::fromLatin1(kQuantityTexts[static_cast<std::size_t>(quantity)].unit);
}

QString SeriesStore::seriesName(int series)
{
    return quantityName(static_cast<Quantity>(series / kPhaseCount)) + QLatin1Char(' ') +
           QChar(u'A' + series % kPhaseCount);
}

SeriesStore::SeriesStore(QObject* parent) : QObject(parent) {}

SeriesStore::~SeriesStore() = default;

void SeriesStore::clear()
{
    chunks_.clear();
    chunks_.shrink_to_fit();
    levels_.clear();
    levels_.shrink_to_fit();
    marks_.clear();
    marks_.shrink_to_fit();
    size_ = 0;
    emit cleared();
}

void SeriesStore::append(double seconds, const Values& values, int step, const QString& loop1)
{
    if (offset(size_) == 0)
        chunks_.push_back(std::make_unique<Chunk>());
    Chunk& chunk = *chunks_.back();
    const std::size_t o = offset(size_);

    double charge = 0;
    if (size_ > 0) {
        const double before = time(size_ - 1);
        seconds = std::max(seconds, before);
        double current = 0;
        for (int phase = 0; phase < kPhaseCount; ++phase) {
            const double i = values[static_cast<std::size_t>(series(Quantity::Current, phase))];
            if (!std::isnan(i))
                current += i;
        }
        charge =
            this->charge(size_ - 1) + std::max(current, 0.0) * (seconds - before) / kSecondsPerHour;
    }
    chunk.time[o] = seconds;
    chunk.charge[o] = charge;
    chunk.values[o] = values;

    if (marks_.empty() || marks_.back().step != step || marks_.back().loop1 != loop1)
        marks_.push_back({size_, step, loop1});
    ++size_;
    summarise();
    emit appended();
}

SeriesStore::Summary::Summary()
{
    min.fill(kInfinity);
    max.fill(-kInfinity);
}

// NaN fails both comparisons, so a value that was not measured never counts. Written without
// branches: noisy values would mispredict most of them.
void SeriesStore::Summary::take(const Values& low, const Values& high)
{
    for (std::size_t s = 0; s < kSeriesCount; ++s) {
        min[s] = low[s] < min[s] ? low[s] : min[s];
        max[s] = high[s] > max[s] ? high[s] : max[s];
    }
}

void SeriesStore::summarise()
{
    for (std::size_t level = 0; (size_ & ((kBlock << (kBlockBits * level)) - 1)) == 0; ++level) {
        if (level == levels_.size())
            levels_.emplace_back();
        Summary sum;
        if (level == 0) {
            for (qsizetype i = size_ - kBlock; i < size_; ++i)
                sum.take(at(i).values[offset(i)], at(i).values[offset(i)]);
        } else {
            const std::vector<Summary>& below = levels_[level - 1];
            for (auto it = below.end() - kBlock; it != below.end(); ++it)
                sum.take(it->min, it->max);
        }
        levels_[level].push_back(sum);
    }
}

const SeriesStore::StepMark* SeriesStore::markAt(qsizetype instant) const
{
    const auto after =
        std::upper_bound(marks_.begin(), marks_.end(), instant,
                         [](qsizetype i, const StepMark& mark) { return i < mark.instant; });
    return after == marks_.begin() ? nullptr : &*(after - 1);
}

qsizetype SeriesStore::lowerBound(Key key, double x) const
{
    return bound(key, x, 0, size_);
}

qsizetype SeriesStore::bound(Key key, double x, qsizetype low, qsizetype high) const
{
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (this->key(key, middle) < x)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

qsizetype SeriesStore::nearest(Key key, double x) const
{
    if (size_ == 0)
        return -1;
    const qsizetype after = lowerBound(key, x);
    if (after == size_)
        return size_ - 1;
    if (after == 0)
        return 0;
    return x - this->key(key, after - 1) <= this->key(key, after) - x ? after - 1 : after;
}

void SeriesStore::extremes(qsizetype from, qsizetype to, Summary& sum) const
{
    from = std::max<qsizetype>(from, 0);
    to = std::min(to, size_);
    // Level 0 is single instants, level k blocks of kBlock^k of them (levels_[k - 1]). Climb
    // while the start is not aligned to the next level's block, then come down again.
    const auto take = [&](std::size_t level, qsizetype i) {
        if (level == 0) {
            const Values& v = at(i).values[offset(i)];
            sum.take(v, v);
        } else {
            const Summary& block =
                levels_[level - 1][static_cast<std::size_t>(i >> (kBlockBits * level))];
            sum.take(block.min, block.max);
        }
    };
    qsizetype i = from;
    std::size_t level = 0;
    for (;; ++level) {
        const qsizetype span = qsizetype(1) << (kBlockBits * level);
        const qsizetype nextSpan = span << kBlockBits;
        while ((i & (nextSpan - 1)) != 0 && i + span <= to) {
            take(level, i);
            i += span;
        }
        if (level == levels_.size() || i + nextSpan > to)
            break;
    }
    for (;; --level) {
        const qsizetype span = qsizetype(1) << (kBlockBits * level);
        while (i + span <= to) {
            take(level, i);
            i += span;
        }
        if (level == 0)
            break;
    }
}

SeriesStore::Range SeriesStore::range(int series, qsizetype from, qsizetype to) const
{
    Summary sum;
    extremes(from, to, sum);
    const auto s = static_cast<std::size_t>(series);
    if (sum.min[s] > sum.max[s])
        return {};
    return {sum.min[s], sum.max[s], true};
}

void SeriesStore::envelope(Key key, double x0, double x1, int columns,
                           const std::vector<int>& which, Points& out) const
{
    for (auto& points : out)
        points.clear();
    if (size_ == 0 || columns <= 0 || !(x1 > x0))
        return;
    const qsizetype first = lowerBound(key, x0);
    // Instants with a key up to x1; the first beyond it only reaches the edge.
    const qsizetype end = bound(key, std::nextafter(x1, kInfinity), first, size_);
    const auto point = [&](qsizetype i) {
        for (int s : which)
            out[static_cast<std::size_t>(s)].emplace_back(this->key(key, i), value(s, i));
    };

    if (first > 0)
        point(first - 1);
    if (end - first <= 2 * static_cast<qsizetype>(columns)) {
        for (qsizetype i = first; i < end; ++i)
            point(i);
    } else {
        const double width = (x1 - x0) / columns;
        qsizetype from = first;
        for (int c = 0; c < columns && from < end; ++c) {
            const qsizetype to =
                c == columns - 1 ? end : bound(key, x0 + (c + 1) * width, from, end);
            if (to == from)
                continue;
            const double middle = x0 + (c + 0.5) * width;
            Summary sum;
            extremes(from, to, sum);
            for (int s : which) {
                const auto k = static_cast<std::size_t>(s);
                std::vector<QPointF>& points = out[k];
                if (sum.min[k] > sum.max[k]) {
                    points.emplace_back(middle, kNaN);
                } else {
                    points.emplace_back(middle, sum.min[k]);
                    if (sum.max[k] != sum.min[k])
                        points.emplace_back(middle, sum.max[k]);
                }
            }
            from = to;
        }
    }
    if (end < size_)
        point(end);
}

std::size_t SeriesStore::memoryBytes() const
{
    std::size_t bytes = chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * sizeof(Chunk) +
                        levels_.capacity() * sizeof(levels_[0]) +
                        marks_.capacity() * sizeof(StepMark);
    for (const auto& level : levels_)
        bytes += level.capacity() * sizeof(Summary);
    return bytes;
}
