#pragma once

#include <QAccessibleWidget>

// Qt gives a widget of a class of its own the role of a plain client area; screen readers meet
// every widget of class Widget as \a role once this has been called, from the class's constructor.
template<typename Widget, QAccessible::Role role>
void installAccessibleRole()
{
    const auto factory = [](const QString &className, QObject *object) -> QAccessibleInterface * {
        // Asked once per class on the way up from the object's own class.
        if (className != QLatin1StringView(Widget::staticMetaObject.className()))
            return nullptr;
        auto *widget = qobject_cast<Widget *>(object);
        return widget ? new QAccessibleWidget(widget, role) : nullptr;
    };
    // Qt asks every installed factory in turn, so one for each class is enough.
    static const bool installed = (QAccessible::installFactory(factory), true);
    Q_UNUSED(installed);
}
