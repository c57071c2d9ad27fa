#include "progresswindow.h"

#include "accessiblerole.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

#include <algorithm>

namespace {

constexpr int Steps = 1000;
// Events come in this often once the window is up: a screen reader asks a question at a time
// and waits for each answer.
constexpr int EventsEvery = 10; // milliseconds
// The bar moves this often; each move repaints it, and more would only slow the work down.
constexpr int BarEvery = 250; // milliseconds

} // namespace

ProgressDialog::ProgressDialog(const QString &text, QWidget *parent)
    : QProgressDialog(text, QCoreApplication::translate("ProgressWindow", "&Cancel"), 0, Steps,
                      parent)
{
    installAccessibleRole<ProgressDialog, QAccessible::AlertMessage>();
}

ProgressWindow::ProgressWindow(QWidget *parent, const QString &text)
    : m_dialog(text, parent)
{
    m_dialog.setWindowTitle(QCoreApplication::translate("ProgressWindow", "Vonnerby"));
    m_dialog.setWindowModality(Qt::ApplicationModal);
    m_dialog.setMinimumDuration(ShowAfter);
    // Shown until the command is done with it, even once the bar is full.
    m_dialog.setAutoReset(false);
    m_dialog.setAutoClose(false);
    m_dialog.setValue(0);
    m_sinceEvents.start();
    m_sinceBar.start();
}

ProgressWindow::~ProgressWindow()
{
    if (m_pointerSet)
        QGuiApplication::restoreOverrideCursor();
}

void ProgressWindow::setText(const QString &text)
{
    m_dialog.setLabelText(text);
}

bool ProgressWindow::advance(qint64 done, qint64 total)
{
    if (m_sinceEvents.elapsed() < EventsEvery && done < total)
        return !m_dialog.wasCanceled();
    m_sinceEvents.start();
    if (m_sinceBar.elapsed() >= BarEvery || done >= total) {
        m_sinceBar.start();
        const qint64 steps =
                total > 0 ? std::clamp(done * Steps / total, qint64(0), qint64(Steps)) : 0;
        // Shows the dialog when it is time to, and from then on lets events in.
        m_dialog.setValue(int(steps));
    } else if (m_dialog.isVisible()) {
        QCoreApplication::processEvents();
    }
    if (m_dialog.isVisible() && !m_pointerSet) {
        // Busy, but Cancel can be pressed.
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        m_pointerSet = true;
    }
    return !m_dialog.wasCanceled();
}
