#pragma once

#include "onboarding/TermsAgreementView.h"
#include "settings/SettingsTab.h"
#include "widgets/SettingsForm.h"
#include "settings_window/SettingsWindowServices.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>

class QLabel;
class QListWidget;
class QStackedWidget;

namespace quillby {

class SettingsViewModel;

// A tab's text identity ("general", ...), title ("General", ..., "About & support") and the
// name of its symbol ("gearshape", ...). fromRawValue accepts exactly the six raw values.
QString settingsTabRawValue(SettingsTab tab);
QString settingsTabTitle(SettingsTab tab);
QString settingsTabSystemImage(SettingsTab tab);
std::optional<SettingsTab> settingsTabFromRawValue(const QString &text);

// The About & support tab: the installed version, the support actions, the privacy and terms
// links and the safety notice.
class AboutSupportSettingsPane : public SettingsForm {
    Q_OBJECT
public:
    AboutSupportSettingsPane(SettingsViewModel &model, std::function<void()> submitFeedbackAction,
                             std::function<void(const QUrl &)> openURL, const ProductWebSite &webSite,
                             QWidget *parent = nullptr);

protected:
    void appeared() override;

private:
    SettingsViewModel &model_;
    QLabel *version_;
};

// The root of the Settings window: a sidebar of the six tabs beside the pane of the chosen tab
// (the Account pane when none is chosen), the model's status line under every pane, and the
// terms-of-use sheet whenever the model asks for it. Each time it is shown it loads the stored
// configuration into the model. The model and the navigation belong to the window's owner and
// outlive the view.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 600;
    static constexpr int kMinimumHeight = 420;

    SettingsView(SettingsViewModel &model, SettingsNavigation &navigation, std::function<void()> submitFeedbackAction,
                 SettingsWindowServices services, QWidget *parent = nullptr);
    ~SettingsView() override;

    // The tab whose pane is shown.
    SettingsTab shownTab() const;
    QWidget *pane(SettingsTab tab) const;
    // The terms sheet while it is open.
    TermsAgreementSheet *termsSheet() const { return termsSheet_; }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refreshAppearance();
    void showSelection();
    void sidebarSelectionChanged();
    void refreshStatus();
    void refreshTermsSheet();

    SettingsViewModel &model_;
    SettingsNavigation &navigation_;
    SettingsWindowServices services_;
    QListWidget *sidebar_ = nullptr;
    QLabel *title_;
    QStackedWidget *panes_;
    std::map<SettingsTab, QWidget *> paneByTab_;
    QWidget *statusRow_;
    QLabel *statusText_;
    QLabel *savedHistoryText_;
    QPointer<TermsAgreementSheet> termsSheet_;
};

// The view factory the Settings launcher builds its windows with.
QWidget *makeSettingsView(SettingsViewModel &model, SettingsNavigation &navigation,
                          std::function<void()> submitFeedbackAction, const SettingsWindowServices &services);

} // namespace quillby
