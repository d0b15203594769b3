#include "plot/LogViewer.h"

#include "plot/TrendPlot.h"
#include "series/RunLogReader.h"
#include "station/OperatorPrompts.h"

#include <QFileInfo>
#include <QToolButton>
#include <QVBoxLayout>

const QString LogViewer::kFileFilter = QStringLiteral("Run logs (*.CSV *.csv);;All files (*)");

namespace {

constexpr int kViewerWidth = 1280;
constexpr int kViewerHeight = 600;

} // namespace

LogViewer::LogViewer(const QString& path, OperatorPrompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), path_(path)
{
    setObjectName(QStringLiteral("LogViewer"));
    setWindowTitle(QStringLiteral("%1 - ACL3 run log").arg(QFileInfo(path).fileName()));
    auto* layout = new QVBoxLayout(this);
    plot_ = new TrendPlot(this);
    plot_->setPrompts(&prompts);
    plot_->setExportPreset(path);
    plot_->addTool(openLogButton(prompts, QFileInfo(path).absolutePath(), plot_));
    layout->addWidget(plot_);
    resize(kViewerWidth, kViewerHeight);
}

LogViewer* LogViewer::open(const QString& path, OperatorPrompts& prompts, QWidget* parent,
                           QString* refusal)
{
    auto* viewer = new LogViewer(path, prompts, parent);
    const RunLogRead read = readRunLog(path, viewer->store_);
    if (!read.ok) {
        delete viewer;
        if (refusal)
            *refusal = read.error;
        prompts.message(read.error);
        return nullptr;
    }
    viewer->plot_->setStore(&viewer->store_);
    viewer->plot_->setRange(TrendPlot::Range::WholeRun);
    if (read.badLines > 0)
        prompts.message(read.warning(path));
    return viewer;
}

QToolButton* LogViewer::openLogButton(OperatorPrompts& prompts, const QString& folder,
                                      QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("OpenLogCommand"));
    button->setText(QStringLiteral("Open log..."));
    button->setToolTip(QStringLiteral("Show a finished run's CSV log in a plot of its own"));
    QObject::connect(button, &QToolButton::clicked, button, [&prompts, folder, button] {
        const QString path = prompts.openFileName(kFileFilter, folder + QLatin1Char('/'));
        if (path.isEmpty())
            return;
        if (LogViewer* viewer = open(path, prompts, button->window())) {
            viewer->setAttribute(Qt::WA_DeleteOnClose);
            viewer->show();
        }
    });
    return button;
}
