#include "optiongroup.h"

#include "accessiblerole.h"

OptionGroup::OptionGroup(QWidget *parent)
    : QWidget(parent)
{
    installAccessibleRole<OptionGroup, QAccessible::Grouping>();
}
