#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace quillby {

class ConfigurationManager;

// Owner of the first-run onboarding window. The guided sign-in is not part of this build yet:
// the window only welcomes the user. `onComplete` runs once onboarding finishes.
class OnboardingCoordinator : public QObject {
    Q_OBJECT
public:
    OnboardingCoordinator(ConfigurationManager &configurationManager, std::function<void()> onComplete,
                          QObject *parent = nullptr);
    ~OnboardingCoordinator() override;

    void show();
    QWidget *window() const { return window_; }
    ConfigurationManager &configurationManager() const { return configurationManager_; }
    const std::function<void()> &onComplete() const { return onComplete_; }

private:
    ConfigurationManager &configurationManager_;
    std::function<void()> onComplete_;
    QPointer<QWidget> window_;
};

} // namespace quillby
