#pragma once

namespace quillby {

enum class ActivationPolicy {
    accessory,   // a tray application: no taskbar entry of its own besides its windows
    regular,     // an ordinary windowed application (while onboarding or the terms are shown)
};

// Whether the program presents itself as a tray accessory or as an ordinary windowed
// application. Linux desktops have no Dock and no per-application policy: a window shows in the
// taskbar while it is open whatever the program is, so switching only records the policy (for
// the windows that ask and for tests). The composition root owns the one instance.
// Main thread only.
class ApplicationActivationPolicy {
public:
    ActivationPolicy policy() const { return policy_; }
    // How many times the policy was set (also to the same value).
    int changes() const { return changes_; }

    void setPolicy(ActivationPolicy policy)
    {
        policy_ = policy;
        ++changes_;
    }

private:
    ActivationPolicy policy_ = ActivationPolicy::accessory;
    int changes_ = 0;
};

} // namespace quillby
