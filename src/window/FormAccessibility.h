#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <QAccessible>
#include <QRect>
#include <QString>

#include "render/AccessibleElements.h"

class QWidget;

namespace window {

// What the accessibility objects ask of the window they describe.
class AccessibleForm {
public:
    virtual ~AccessibleForm() = default;
    virtual QWidget *formWidget() = 0;
    virtual QString accessibleTitle() const = 0;
    // The elements of the frame on screen now.
    virtual const std::vector<render::AccessibleElement> &accessibleElements() const = 0;
    // A card rectangle in screen coordinates.
    virtual QRect screenRect(const render::Rect &card) const = 0;
    virtual std::int32_t focusedRegion() const = 0;
    virtual std::int32_t pressedRegion() const = 0;
    // A message box waits for its answer or the view animation runs: nothing can be pressed
    // meanwhile.
    virtual bool busy() const = 0;
    // A press through the accessibility API: the click's own code path.
    virtual void pressRegion(std::int32_t region) = 0;
};

// The self-painted window as assistive technology sees it: one child per painted element
// of the current frame, and the events a screen reader needs when a frame changes them.
class FormAccessibility {
public:
    explicit FormAccessibility(AccessibleForm &form);
    ~FormAccessibility();
    FormAccessibility(const FormAccessibility &) = delete;
    FormAccessibility &operator=(const FormAccessibility &) = delete;

    // The window's own interface (Qt owns it once returned from an accessibility factory).
    QAccessibleInterface *createWindowInterface();

    // After a repaint: tells assistive technology what changed since the frame `before`
    // with its focus `focusBefore` (names, the progress, elements that came or went, the
    // focus). Nothing when nothing changed: progress repaints are frequent.
    void frameChanged(const std::vector<render::AccessibleElement> &before,
                      std::int32_t focusBefore);
    // Tells assistive technology which element has the focus (the window became active,
    // Tab was pressed); nothing while the window is not the active one.
    void announceFocus();
    // The window became busy or free again (see AccessibleForm::busy): the elements that
    // can be pressed tell that they are unavailable or available.
    void availabilityChanged();

    QAccessibleInterface *child(int index);
    int indexOfChild(const QAccessibleInterface *child) const;
    AccessibleForm &form() { return m_form; }

private:
    QAccessibleInterface *interfaceFor(const QString &key);
    void forget(const QString &key);

    AccessibleForm &m_form;
    // What the interfaces Qt keeps hold of this and of the window: cleared when it goes.
    std::shared_ptr<FormAccessibility *> m_self;
    std::shared_ptr<AccessibleForm *> m_formLink;
    std::map<QString, QAccessible::Id> m_ids;
};

} // namespace window
