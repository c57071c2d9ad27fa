#include "listtabs.h"

#include <QEvent>
#include <QStyle>

ListTabs::ListTabs(QWidget *parent)
    : QTabWidget(parent)
{ }

void ListTabs::addListTab(QWidget *control, const QString &label, const QRect &geometry)
{
    auto *page = new QWidget;
    control->setParent(page);
    addTab(page, label);
    m_placed.append({control, geometry});
    placeControls();
}

void ListTabs::setListGeometry(QWidget *control, const QRect &geometry)
{
    for (Placed &placed : m_placed) {
        if (placed.control == control)
            placed.geometry = geometry;
    }
    placeControls();
}

void ListTabs::resizeEvent(QResizeEvent *event)
{
    QTabWidget::resizeEvent(event);
    placeControls();
}

void ListTabs::showEvent(QShowEvent *event)
{
    QTabWidget::showEvent(event);
    placeControls();
}

void ListTabs::changeEvent(QEvent *event)
{
    QTabWidget::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange)
        placeControls();
}

void ListTabs::placeControls()
{
    // The pages move whenever the tab widget lays itself out; keep the controls where they belong,
    // mirrored right to left.
    for (const Placed &placed : std::as_const(m_placed)) {
        const QPoint pageOrigin = placed.control->parentWidget()->mapTo(this, QPoint());
        placed.control->setGeometry(QStyle::visualRect(layoutDirection(), rect(), placed.geometry)
                                            .translated(-pageOrigin));
    }
}
