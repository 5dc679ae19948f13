#include "shell/forms.h"

#include <QHash>
#include <QPointer>
#include <vector>

namespace forms {

namespace {

struct Entry {
    const QMetaObject* kind;
    QPointer<QWidget> window;
};

// Load order is kept so that unloadAll can close the first-loaded (main) window last.
std::vector<Entry>& entries()
{
    static std::vector<Entry> list;
    return list;
}

void erase(const QMetaObject* kind)
{
    auto& list = entries();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->kind == kind) {
            list.erase(it);
            return;
        }
    }
}

} // namespace

namespace detail {

QWidget* loaded(const QMetaObject* kind)
{
    for (const Entry& entry : entries()) {
        if (entry.kind == kind)
            return entry.window.data();
    }
    return nullptr;
}

void store(const QMetaObject* kind, QWidget* window)
{
    erase(kind);
    entries().push_back({kind, window});
}

} // namespace detail

void release(QWidget* window)
{
    auto& list = entries();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->window == window) {
            list.erase(it);
            return;
        }
    }
}

void unload(const QMetaObject* kind)
{
    QWidget* window = detail::loaded(kind);
    if (!window)
        return;
    erase(kind);
    window->close();
    // Unloaded whatever its close handling did; deleteLater may safely run twice.
    window->hide();
    window->deleteLater();
}

void unloadAll()
{
    while (!entries().empty())
        unload(entries().back().kind);
}

} // namespace forms
