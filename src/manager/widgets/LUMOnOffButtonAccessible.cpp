#include "manager/widgets/LUMOnOffButtonAccessible.h"

#include "manager/widgets/LUMOnOffButton.h"

namespace {

QAccessibleInterface *createInterface(const QString &className, QObject *object)
{
    if (className != QLatin1String("LUMOnOffButton"))
        return nullptr;
    auto *button = qobject_cast<LUMOnOffButton *>(object);
    return button ? new LUMOnOffButtonAccessible(button) : nullptr;
}

} // namespace

LUMOnOffButtonAccessible::LUMOnOffButtonAccessible(LUMOnOffButton *button)
    : QAccessibleWidget(button, QAccessible::CheckBox)
{
}

void LUMOnOffButtonAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(createInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

LUMOnOffButton *LUMOnOffButtonAccessible::button() const
{
    return static_cast<LUMOnOffButton *>(widget());
}

QAccessible::State LUMOnOffButtonAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.checkable = true;
    state.checked = button()->customState();
    state.pressed = button()->isDown();
    return state;
}

QString LUMOnOffButtonAccessible::text(QAccessible::Text kind) const
{
    if (kind == QAccessible::Name) {
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? button()->text() : name;
    }
    if (kind == QAccessible::Value)
        return button()->customState() ? LUMOnOffButton::tr("ON") : LUMOnOffButton::tr("OFF");
    return QAccessibleWidget::text(kind);
}
