// What the desktop's accessibility layer (AT-SPI, which Qt serves) sees of
// the controls: each widget is named as gui/Accessible.h says, and the
// widgets Qt has no fitting role for (the form's window, a group box, the
// status bar) carry the role in a property that the factory below reads.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QMetaEnum>
#include <QWidget>
#include <sstream>

#include "gui/Accessible.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPeers.h"

namespace {

constexpr const char* kRoleProperty = "kursAccessibleRole";

QAccessibleInterface* RoleFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    const QVariant role = widget->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(widget, static_cast<QAccessible::Role>(role.toInt()));
}

void PrintTree(QAccessibleInterface* node, int depth, std::ostringstream& out) {
    if (!node || !node->isValid() || node->state().invisible)
        return;
    const char* role = QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role());
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << (role ? role : "?") << " \""
        << node->text(QAccessible::Name).toStdString() << "\"\n";
    for (int i = 0; i < node->childCount(); ++i)
        PrintTree(node->child(i), depth + 1, out);
}

}  // namespace

void InstallAccessibleRoles() {
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(RoleFactory);
    installed = true;
}

void SetAccessibleRole(QWidget* widget, int role) {
    widget->setProperty(kRoleProperty, role);
}

void ApplyAccessibleName(const TControl* control, QWidget* widget) {
    const QString name = ToQString(AccessibleNameOf(control));
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

std::string AccessibleTree(const TControl* control) {
    QWidget* widget = TQtBackend::WidgetOf(control);
    std::ostringstream out;
    if (widget)
        PrintTree(QAccessible::queryAccessibleInterface(widget), 0, out);
    return out.str();
}

std::string AccessibleText(const TControl* control) {
    QWidget* widget = TQtBackend::WidgetOf(control);
    QAccessibleInterface* node = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    QAccessibleTextInterface* text = node ? node->textInterface() : nullptr;
    return text ? text->text(0, text->characterCount()).toStdString() : std::string();
}
