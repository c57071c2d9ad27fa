#pragma once

#include <QRadioButton>

// An option button that answers to a click anywhere in its rectangle, as the panel's layout
// expects: "No" overlaps "Yes", and a click on the blank part of a button still selects it.
class OptionButton : public QRadioButton
{
    Q_OBJECT

public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint &pos) const override;
};
