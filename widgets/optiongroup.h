#pragma once

#include <QWidget>

// Option buttons that answer one question, in a grouping named for the question: it draws
// nothing, and screen readers read each button by its own caption within it.
class OptionGroup : public QWidget
{
    Q_OBJECT

public:
    explicit OptionGroup(QWidget *parent = nullptr);
};
