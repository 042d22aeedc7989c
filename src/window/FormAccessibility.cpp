#include "window/FormAccessibility.h"

#include <algorithm>
#include <memory>

#include <QAccessibleWidget>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace window {
namespace {

using render::AccessibleElement;

const AccessibleElement *findElement(const std::vector<AccessibleElement> &elements,
                                     const QString &key) {
    const auto it = std::find_if(elements.begin(), elements.end(),
                                 [&](const AccessibleElement &e) { return e.key == key; });
    return it == elements.end() ? nullptr : &*it;
}

// One painted element. It holds only its key: whatever it reports is read from the frame
// on screen, so it never describes an older picture.
class ElementInterface final : public QAccessibleInterface,
                               public QAccessibleActionInterface,
                               public QAccessibleValueInterface {
public:
    ElementInterface(std::shared_ptr<AccessibleForm *> form, QString key)
        : m_form(std::move(form))
        , m_key(std::move(key)) {}

    const AccessibleElement *element() const {
        return *m_form ? findElement((*m_form)->accessibleElements(), m_key) : nullptr;
    }

    bool isValid() const override { return element() != nullptr; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override {
        return *m_form ? (*m_form)->formWidget()->windowHandle() : nullptr;
    }
    QAccessibleInterface *parent() const override {
        return *m_form ? QAccessible::queryAccessibleInterface((*m_form)->formWidget()) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        const AccessibleElement *e = element();
        if (!e)
            return {};
        if (t == QAccessible::Name)
            return e->name;
        if (t == QAccessible::Value)
            return e->value;
        if (t == QAccessible::Description)
            return e->description;
        return {};
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override {
        const AccessibleElement *e = element();
        return e ? (*m_form)->screenRect(e->rect) : QRect();
    }
    QAccessible::Role role() const override {
        const AccessibleElement *e = element();
        return e ? e->role : QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        const AccessibleElement *e = element();
        if (!e) {
            s.invalid = true;
            return s;
        }
        AccessibleForm &form = **m_form;
        s.focusable = e->focusable;
        s.focused = e->focusable && e->region == form.focusedRegion() &&
                    form.formWidget()->isActiveWindow();
        s.pressed = e->region != render::srNone && e->region == form.pressedRegion();
        s.disabled = form.busy() && e->region != render::srNone;
        s.readOnly = e->role == QAccessible::StaticText;
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType type) override {
        const AccessibleElement *e = element();
        if (!e)
            return nullptr;
        if (type == QAccessible::ActionInterface && e->region != render::srNone)
            return static_cast<QAccessibleActionInterface *>(this);
        if (type == QAccessible::ValueInterface && e->role == QAccessible::ProgressBar)
            return static_cast<QAccessibleValueInterface *>(this);
        return nullptr;
    }

    QStringList actionNames() const override {
        const AccessibleElement *e = element();
        return e && e->region != render::srNone ? QStringList{pressAction()} : QStringList();
    }
    // Queued, so the reader's call returns at once even when the press opens a message box.
    void doAction(const QString &actionName) override {
        const AccessibleElement *e = element();
        if (!e || actionName != pressAction() || (*m_form)->busy())
            return;
        const std::int32_t region = e->region;
        QTimer::singleShot(0, (*m_form)->formWidget(), [form = m_form, region] {
            if (*form)
                (*form)->pressRegion(region);
        });
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

    QVariant currentValue() const override {
        const AccessibleElement *e = element();
        return e ? QVariant(e->value.toInt()) : QVariant();
    }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    std::shared_ptr<AccessibleForm *> m_form; // null once the window is gone
    QString m_key;
};

// The window: role Window, named by its title text, its children the painted elements.
// Qt keeps it until the widget is destroyed, which is after the window's own members are:
// from then on it has no children.
class FormInterface final : public QAccessibleWidget {
public:
    FormInterface(QWidget *widget, std::shared_ptr<FormAccessibility *> owner)
        : QAccessibleWidget(widget, QAccessible::Window)
        , m_owner(std::move(owner)) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && *m_owner)
            return (*m_owner)->form().accessibleTitle();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override {
        return *m_owner ? int((*m_owner)->form().accessibleElements().size()) : 0;
    }
    QAccessibleInterface *child(int index) const override {
        return *m_owner ? (*m_owner)->child(index) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return *m_owner ? (*m_owner)->indexOfChild(child) : -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override {
        if (!*m_owner)
            return nullptr;
        AccessibleForm &form = (*m_owner)->form();
        const auto &elements = form.accessibleElements();
        // The small buttons lie inside the bars: the last element that contains the point.
        for (int i = int(elements.size()) - 1; i >= 0; --i)
            if (form.screenRect(elements[std::size_t(i)].rect).contains(x, y))
                return (*m_owner)->child(i);
        return nullptr;
    }
    QAccessibleInterface *focusChild() const override {
        if (!*m_owner)
            return nullptr;
        AccessibleForm &form = (*m_owner)->form();
        const auto &elements = form.accessibleElements();
        const std::int32_t focused = form.focusedRegion();
        for (std::size_t i = 0; i < elements.size(); ++i)
            if (elements[i].focusable && elements[i].region == focused)
                return (*m_owner)->child(int(i));
        return nullptr;
    }

private:
    std::shared_ptr<FormAccessibility *> m_owner;
};

} // namespace

FormAccessibility::FormAccessibility(AccessibleForm &form)
    : m_form(form)
    , m_self(std::make_shared<FormAccessibility *>(this))
    , m_formLink(std::make_shared<AccessibleForm *>(&form)) {}

FormAccessibility::~FormAccessibility() {
    *m_self = nullptr;
    *m_formLink = nullptr;
    for (const auto &[key, id] : m_ids)
        QAccessible::deleteAccessibleInterface(id);
}

QAccessibleInterface *FormAccessibility::createWindowInterface() {
    return new FormInterface(m_form.formWidget(), m_self);
}

QAccessibleInterface *FormAccessibility::interfaceFor(const QString &key) {
    if (const auto it = m_ids.find(key); it != m_ids.end())
        return QAccessible::accessibleInterface(it->second);
    auto *element = new ElementInterface(m_formLink, key);
    m_ids[key] = QAccessible::registerAccessibleInterface(element);
    return element;
}

void FormAccessibility::forget(const QString &key) {
    if (const auto it = m_ids.find(key); it != m_ids.end()) {
        QAccessible::deleteAccessibleInterface(it->second);
        m_ids.erase(it);
    }
}

QAccessibleInterface *FormAccessibility::child(int index) {
    const auto &elements = m_form.accessibleElements();
    if (index < 0 || std::size_t(index) >= elements.size())
        return nullptr;
    return interfaceFor(elements[std::size_t(index)].key);
}

int FormAccessibility::indexOfChild(const QAccessibleInterface *child) const {
    const auto &elements = m_form.accessibleElements();
    for (const auto &[key, id] : m_ids) {
        if (QAccessible::accessibleInterface(id) != child)
            continue;
        for (std::size_t i = 0; i < elements.size(); ++i)
            if (elements[i].key == key)
                return int(i);
    }
    return -1;
}

void FormAccessibility::frameChanged(const std::vector<AccessibleElement> &before,
                                     std::int32_t focusBefore) {
    const std::vector<AccessibleElement> &after = m_form.accessibleElements();
    for (const render::AccessibleChange &change : render::ChangesBetween(before, after)) {
        // Nobody listens: interfaces of elements that went away are dropped all the same.
        if (!QAccessible::isActive()) {
            if (change.event == QAccessible::ObjectDestroyed)
                forget(change.key);
            continue;
        }
        if (change.event == QAccessible::ObjectDestroyed && !m_ids.count(change.key))
            continue; // no reader ever asked for it
        if (change.event == QAccessible::ValueChanged) {
            const AccessibleElement *now = findElement(after, change.key);
            QAccessibleValueChangeEvent moved(interfaceFor(change.key), now->value.toInt());
            QAccessible::updateAccessibility(&moved);
        } else {
            QAccessibleEvent event(interfaceFor(change.key), change.event);
            QAccessible::updateAccessibility(&event);
        }
        if (change.event == QAccessible::ObjectDestroyed)
            forget(change.key);
    }
    // A new caption of the focused action button (offering the download after a check) is
    // told as the focus arriving there, so that a reader speaks it and the version found.
    const std::int32_t focus = m_form.focusedRegion();
    const auto focusedIn = [focus](const std::vector<AccessibleElement> &elements) {
        return std::find_if(elements.begin(), elements.end(), [focus](const AccessibleElement &e) {
            return e.focusable && e.region == focus;
        });
    };
    const auto was = focusedIn(before);
    const auto is = focusedIn(after);
    const bool renamed = was != before.end() && is != after.end() &&
                         is->region == render::srActionButton && was->name != is->name;
    if (focus != focusBefore || renamed)
        announceFocus();
}

void FormAccessibility::announceFocus() {
    if (!QAccessible::isActive() || !m_form.formWidget()->isActiveWindow())
        return;
    const std::int32_t focus = m_form.focusedRegion();
    for (const AccessibleElement &now : m_form.accessibleElements())
        if (now.focusable && now.region == focus) {
            QAccessibleEvent focused(interfaceFor(now.key), QAccessible::Focus);
            QAccessible::updateAccessibility(&focused);
        }
}

void FormAccessibility::availabilityChanged() {
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.disabled = true;
    for (const AccessibleElement &now : m_form.accessibleElements())
        if (now.region != render::srNone) {
            QAccessibleStateChangeEvent event(interfaceFor(now.key), changed);
            QAccessible::updateAccessibility(&event);
        }
}

} // namespace window
