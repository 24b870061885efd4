#pragma once

namespace fw {

// One of the framework's services of the desktop (boxes, running programs,
// the shell, window titles): its real implementation, made on first use,
// unless a test has set a stand-in.
template <class Interface, class Real> class Service {
public:
    Interface& get() {
        if (m_standIn)
            return *m_standIn;
        static Real real;
        return real;
    }
    // nullptr puts the real one back.
    void set(Interface* standIn) { m_standIn = standIn; }

private:
    Interface* m_standIn = nullptr;
};

} // namespace fw
