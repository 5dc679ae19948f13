#pragma once

// One live instance per window kind. Using a window that is not loaded builds it (its
// constructor is its load handler); closing a window unloads it at once, even though Qt
// deletes the widget a little later.

#include <QMetaObject>
#include <QWidget>

namespace forms {

namespace detail {
QWidget* loaded(const QMetaObject* kind);
void store(const QMetaObject* kind, QWidget* window);
} // namespace detail

// The loaded window of kind W, or nullptr when none is loaded.
template <class W> W* loadedOrNull()
{
    return static_cast<W*>(detail::loaded(&W::staticMetaObject));
}

// The loaded window of kind W, loading it first when needed: the constructor builds
// the controls at their design values, then the window is registered, then its load
// handler Form_Load() runs (which may itself reach the window through the registry).
template <class W> W* instance()
{
    if (W* window = loadedOrNull<W>())
        return window;
    auto* window = new W;
    window->setAttribute(Qt::WA_DeleteOnClose);
    detail::store(&W::staticMetaObject, window);
    window->Form_Load();
    return window;
}

// Marks the window as unloaded; called from its close handling. The widget itself is
// deleted by Qt once control returns to the event loop.
void release(QWidget* window);

// Closes (unloads) the window of kind W if it is loaded.
void unload(const QMetaObject* kind);
template <class W> void unload()
{
    unload(&W::staticMetaObject);
}

// Unloads every loaded window, the main window last.
void unloadAll();

} // namespace forms
