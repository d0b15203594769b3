#include "LoadState.h"

namespace {
constexpr std::array<const char*, kLoadModeCount> kModeNames{"CC", "CR", "CV", "CP", "LIN"};
} // namespace

QString modeName(LoadMode mode)
{
    return QString::fromLatin1(kModeNames[static_cast<size_t>(mode)]);
}

std::optional<LoadMode> modeFromName(const QString& name)
{
    for (size_t i = 0; i < kModeNames.size(); ++i) {
        if (name.compare(QLatin1String(kModeNames[i]), Qt::CaseInsensitive) == 0)
            return static_cast<LoadMode>(i);
    }
    return std::nullopt;
}
