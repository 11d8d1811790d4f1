// Builds a dialog's controls from its template.
#pragma once

#include <QWidget>
#include <map>

#include "app/gui/dialog_units.h"
#include "app/ui/templates.h"

namespace tovrik::gui {

struct BuiltControls {
    std::map<int, QWidget*> byId;  // controls with an id; object name = the id in decimal
    QList<QWidget*> inOrder;       // every control, template order

    QWidget* Find(int id) const {
        const auto it = byId.find(id);
        return it == byId.end() ? nullptr : it->second;
    }

    // The control of that id as the widget class its template kind makes. A missing control
    // or another class is a mismatch between code and template: it stops the program with
    // the id rather than hand on a wrong pointer.
    template <class T>
    T* As(int id) const {
        return Checked<T>(Find(id), id);
    }
    // The same for a control found by position (`id` only names it in the message).
    template <class T>
    static T* Checked(QWidget* control, int id) {
        T* widget = qobject_cast<T*>(control);
        if (widget == nullptr) {
            qFatal("control %d is missing or not a %s", id, T::staticMetaObject.className());
        }
        return widget;
    }
};

// Creates the controls as children of `client` (which gets the template's client size) at
// their template rectangles. Only tab-stop controls take keyboard focus by Tab, in template
// order; the rest take it by click at most.
BuiltControls BuildControls(const DialogTemplate& dialog, QWidget* client, const BaseUnits& base);

// Dialog-style caption and frame: no minimize/maximize box. An application window is a normal
// top-level window (it gets a taskbar entry), the others are dialogs over their owner.
void ApplyDialogFrame(QWidget* window, const DialogTemplate& dialog,
                      bool applicationWindow = false);

// A modal dialog over its owner, in the dialog font, with a fixed client built from its
// template.
BuiltControls BuildModalDialog(QWidget* dialog, const DialogTemplate& dialogTemplate);

}  // namespace tovrik::gui
