#pragma once

#include "core/ProductWebSite.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

namespace quillby {

class ApplicationActivationPolicy;
class ConfigurationManager;
class ReducedMotionMonitor;

// What the onboarding and terms windows reach besides the configuration: the program's
// activation policy (none: nothing to switch), the desktop's reduced-motion wish (none: motion
// is not reduced), the web site their links lead to and the browser (none: the desktop's).
struct WindowEnvironment {
    ApplicationActivationPolicy *activationPolicy = nullptr;
    ReducedMotionMonitor *reducedMotion = nullptr;
    ProductWebSite webSite;
    std::function<void(const QUrl &)> openURL;
};

// Owner of the stand-alone terms-of-use window shown at start-up while the current terms are
// not accepted. While it is open the program is an ordinary windowed application. Agreeing
// records the acceptance; the window closes when the acceptance is published (from here or from
// a terms sheet elsewhere), the program returns to the tray accessory policy and then, on a
// later turn of the event loop, `onAccept` runs. Quit (or closing the window) asks the program
// to end. Main thread only.
class TermsAgreementCoordinator : public QObject {
    Q_OBJECT
public:
    TermsAgreementCoordinator(ConfigurationManager &configurationManager, std::function<void()> onAccept,
                              std::function<void()> quitAction, WindowEnvironment environment = {},
                              QObject *parent = nullptr);
    ~TermsAgreementCoordinator() override;

    void show();
    void accept();
    void quit();
    QWidget *window() const { return window_; }

private:
    void closeAfterAcceptance();
    void setPolicy(bool regular);

    ConfigurationManager &configurationManager_;
    std::function<void()> onAccept_;
    std::function<void()> quitAction_;
    WindowEnvironment environment_;
    QPointer<QWidget> window_;
};

} // namespace quillby
