// Protects the real message box and file dialogs: title, parent, filter, preset and cancel.
#include "WindowFixture.h"
#include "station/ProgramCommands.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"
#include "ui/WidgetPrompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs `answer` on the first modal dialog that opens, from the dialog's own event loop.
void whenModalOpens(const std::function<void(QWidget*)>& answer)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        poll->stop();
        poll->deleteLater();
        answer(modal);
    });
    poll->start(10);
}

} // namespace

class WidgetPromptsTest : public QObject
{
    Q_OBJECT

private slots:
    void message_showsTheTextWithItsTitleOrTheProgramsOwn_data()
    {
        addColumns({"title", "shownTitle"});
        addRows({"own title;Warning!;Warning!", "no title;;ACL3"});
    }
    void message_showsTheTextWithItsTitleOrTheProgramsOwn()
    {
        QFETCH(QString, title);
        QFETCH(QString, shownTitle);
        QWidget parent;
        WidgetPrompts prompts;
        prompts.setParentWidget(&parent);
        QStringList seen;
        whenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box && box->parentWidget() == &parent && box->buttons().size() == 1);
            seen << box->windowTitle() << box->text();
            box->button(QMessageBox::Ok)->click();
        });
        prompts.message(QStringLiteral("Load Level must 0 ~ 112.5(A) !"), title);
        QCOMPARE(seen, QStringList({shownTitle, "Load Level must 0 ~ 112.5(A) !"}));
    }
};

ACL3_WIDGET_TEST_MAIN(WidgetPromptsTest)
#include "tst_widgetprompts.moc"
