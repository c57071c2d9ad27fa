#pragma once

#include <QList>
#include <QRect>
#include <QTabWidget>

// Tabs whose pages each hold one control, placed relative to the whole tab control, tab bar
// included, rather than to the page below the tab bar, and mirrored right to left.
class ListTabs : public QTabWidget
{
    Q_OBJECT

public:
    explicit ListTabs(QWidget *parent = nullptr);

    // Adds a tab showing only \a control, at \a geometry in this widget's coordinates.
    void addListTab(QWidget *control, const QString &label, const QRect &geometry);
    // Moves a control added with addListTab().
    void setListGeometry(QWidget *control, const QRect &geometry);

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void placeControls();

    struct Placed
    {
        QWidget *control = nullptr;
        QRect geometry;
    };
    QList<Placed> m_placed;
};
