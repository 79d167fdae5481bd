#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace quillby {

class ConfigurationManager;

// Owner of the stand-alone terms-of-use window shown at start-up while the current terms are
// not accepted. Agreeing records the acceptance; the window closes when the acceptance is
// published (from here or from anywhere else) and then `onAccept` runs. Main thread only.
class TermsAgreementCoordinator : public QObject {
    Q_OBJECT
public:
    TermsAgreementCoordinator(ConfigurationManager &configurationManager, std::function<void()> onAccept,
                              std::function<void()> quitAction, QObject *parent = nullptr);
    ~TermsAgreementCoordinator() override;

    void show();
    void accept();
    void quit();
    QWidget *window() const { return window_; }

private:
    void closeAfterAcceptance();

    ConfigurationManager &configurationManager_;
    std::function<void()> onAccept_;
    std::function<void()> quitAction_;
    QPointer<QWidget> window_;
};

} // namespace quillby
