#include "framework/desktop/WindowTitles.h"

#include "framework/core/Service.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace fw {
namespace {

// Frames hold their client a level or two down; this bounds the search in a
// frame that holds none.
constexpr int deepestClient = 8;
// The longest title read, in 32-bit units.
constexpr std::uint32_t longestTitle = 1 << 16;

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <class T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

class Walk {
public:
    explicit Walk(xcb_connection_t* c) : m_c(c) {
        m_netWmName = atom("_NET_WM_NAME");
        m_utf8String = atom("UTF8_STRING");
        m_wmState = atom("WM_STATE");
    }

    QStringList titles() {
        QStringList out;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(m_c)); it.rem; xcb_screen_next(&it))
            for (xcb_window_t top : children(it.data->root)) {
                addTitle(top, out);
                if (!hasWmState(top))
                    addClientsBelow(top, 1, out);
            }
        return out;
    }

private:
    xcb_atom_t atom(const char* name) {
        const auto r = reply(xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 1, std::uint16_t(std::strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    std::vector<xcb_window_t> children(xcb_window_t window) {
        const auto r = reply(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, window), nullptr));
        if (!r)
            return {}; // gone meanwhile
        const xcb_window_t* first = xcb_query_tree_children(r.get());
        return std::vector<xcb_window_t>(first, first + xcb_query_tree_children_length(r.get()));
    }

    bool hasWmState(xcb_window_t window) {
        if (m_wmState == XCB_ATOM_NONE)
            return false;
        const auto r = reply(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, m_wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
            nullptr));
        return r && r->type != XCB_ATOM_NONE;
    }

    // The client windows below a frame, not looking further below a client.
    void addClientsBelow(xcb_window_t window, int depth, QStringList& out) {
        if (depth > deepestClient)
            return;
        for (xcb_window_t child : children(window)) {
            if (hasWmState(child))
                addTitle(child, out);
            else
                addClientsBelow(child, depth + 1, out);
        }
    }

    void addTitle(xcb_window_t window, QStringList& out) {
        QString title;
        if (m_netWmName != XCB_ATOM_NONE)
            title = property(window, m_netWmName);
        if (title.isEmpty())
            title = property(window, XCB_ATOM_WM_NAME);
        if (!title.isEmpty())
            out << title;
    }

    // A text property: UTF8_STRING as UTF-8, anything else (STRING,
    // COMPOUND_TEXT) as Latin-1, which keeps its ASCII letters readable.
    QString property(xcb_window_t window, xcb_atom_t name) {
        const auto r = reply(xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, longestTitle),
            nullptr));
        if (!r || r->format != 8)
            return QString();
        QByteArray bytes(static_cast<const char*>(xcb_get_property_value(r.get())),
                         xcb_get_property_value_length(r.get()));
        while (bytes.endsWith('\0'))
            bytes.chop(1);
        return r->type == m_utf8String ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    }

    xcb_connection_t* m_c;
    xcb_atom_t m_netWmName;
    xcb_atom_t m_utf8String;
    xcb_atom_t m_wmState;
};

bool applicationHasNoDisplay() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

Service<WindowTitles, X11WindowTitles> g_service;

} // namespace

X11WindowTitles::X11WindowTitles(const QByteArray& display) : m_display(display) {}

QStringList X11WindowTitles::titles() {
    QByteArray display = m_display;
    if (display.isEmpty()) {
        if (applicationHasNoDisplay())
            return {};
        display = qgetenv("DISPLAY");
        if (display.isEmpty())
            return {};
    }
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    QStringList out;
    if (!xcb_connection_has_error(c))
        out = Walk(c).titles();
    xcb_disconnect(c);
    return out;
}

WindowTitles& windowTitles() {
    return g_service.get();
}

void setWindowTitles(WindowTitles* titles) {
    g_service.set(titles);
}

} // namespace fw
