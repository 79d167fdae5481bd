#include "settings_window/SettingsView.h"
#include "core/async/RunDetached.h"

#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"
#include "insights_window/HistoryEnableDisclosureView.h"
#include "widgets/AccessibilityMarks.h"
#include "onboarding/TermsAgreementView.h"
#include "platform/Announcer.h"
#include "platform/Appearance.h"
#include "settings/SettingsViewModel.h"
#include "settings_window/AccountSettingsPane.h"
#include "settings_window/AppSettingsPane.h"
#include "settings_window/GlucoseSettingsPane.h"
#include "settings_window/InsightsSettingsPane.h"
#include "widgets/ReadableControlStyle.h"
#include "widgets/SettingsSymbols.h"

#include <QDesktopServices>
#include <QEvent>
#include <QKeySequence>
#include <QShortcut>
#include <QSignalBlocker>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QListWidget>
#include <QShowEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace quillby {

namespace {

constexpr int kTabRole = Qt::UserRole + 1;
constexpr const char *kLinkHref = "quillbyLinkHref";
constexpr const char *kLinkText = "quillbyLinkText";
constexpr const char *kButtonSymbol = "quillbyButtonSymbol";

// Gives a sidebar row its identifier and accessible name; the list draws the row beneath it
// and receives its clicks.
class SidebarRowTag final : public QWidget {
public:
    SidebarRowTag(SettingsTab tab, QWidget *parent) : QWidget(parent)
    {
        setObjectName(settingsTabRawValue(tab) + QStringLiteral("TabButton"));
        setAccessibleName(settingsTabTitle(tab) + QStringLiteral(" settings"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }
};

QPushButton *supportButton(const QString &title, const QString &symbol, const char *objectName)
{
    // The symbol is drawn in the button's text colour by SettingsView::refreshAppearance.
    auto *button = new QPushButton(title);
    button->setProperty(kButtonSymbol, symbol);
    button->setObjectName(QString::fromLatin1(objectName));
    return button;
}

QLabel *linkLabel(const QString &text, const QUrl &url, std::function<void(const QUrl &)> openURL)
{
    auto *label = new QLabel();
    label->setTextFormat(Qt::RichText);
    // The text is set, in the palette's link colour, by SettingsView::refreshAppearance.
    label->setProperty(kLinkHref, url.toString(QUrl::FullyEncoded));
    label->setProperty(kLinkText, text);
    label->setAccessibleName(text);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    QObject::connect(label, &QLabel::linkActivated, label, [openURL](const QString &link) {
        if (openURL) {
            openURL(QUrl(link));
        }
    });
    return label;
}

NullAnnouncer &nullAnnouncer()
{
    static NullAnnouncer instance;
    return instance;
}

} // namespace

// --- SettingsTab ---

QString settingsTabRawValue(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general: return QStringLiteral("general");
    case SettingsTab::glucose: return QStringLiteral("glucose");
    case SettingsTab::insights: return QStringLiteral("insights");
    case SettingsTab::alerts: return QStringLiteral("alerts");
    case SettingsTab::account: return QStringLiteral("account");
    case SettingsTab::about: return QStringLiteral("about");
    }
    return {};
}

QString settingsTabTitle(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general: return QStringLiteral("General");
    case SettingsTab::glucose: return QStringLiteral("Glucose");
    case SettingsTab::insights: return QStringLiteral("Insights");
    case SettingsTab::alerts: return QStringLiteral("Alerts");
    case SettingsTab::account: return QStringLiteral("Account");
    case SettingsTab::about: return QStringLiteral("About & support");
    }
    return {};
}

QString settingsTabSystemImage(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general: return QStringLiteral("gearshape");
    case SettingsTab::glucose: return QStringLiteral("drop");
    case SettingsTab::insights: return QStringLiteral("chart.bar.xaxis");
    case SettingsTab::alerts: return QStringLiteral("bell.badge");
    case SettingsTab::account: return QStringLiteral("person.crop.circle");
    case SettingsTab::about: return QStringLiteral("bubble.left.and.bubble.right");
    }
    return {};
}

std::optional<SettingsTab> settingsTabFromRawValue(const QString &text)
{
    for (SettingsTab tab : kAllSettingsTabs) {
        if (settingsTabRawValue(tab) == text) {
            return tab;
        }
    }
    return std::nullopt;
}

// --- About & support ---

AboutSupportSettingsPane::AboutSupportSettingsPane(SettingsViewModel &model,
                                                   std::function<void()> submitFeedbackAction,
                                                   std::function<void(const QUrl &)> openURL,
                                                   const ProductWebSite &webSite, QWidget *parent)
    : SettingsForm(parent), model_(model)
{
    setObjectName(QStringLiteral("aboutSettingsPane"));
    SettingsSection *about = addSection(QStringLiteral("About"));
    version_ = about->addValueRow(QStringLiteral("Installed version"), QString());
    version_->setObjectName(QStringLiteral("currentVersionValue"));

    SettingsSection *support = addSection(QStringLiteral("Support"));
    QPushButton *gettingStarted = supportButton(QStringLiteral("Getting started"), QStringLiteral("book"),
                                                "gettingStartedButton");
    QPushButton *feedback = supportButton(QStringLiteral("Submit feedback"), QStringLiteral("paperplane.fill"),
                                          "submitFeedbackButton");
    QPushButton *changelog = supportButton(QStringLiteral("View changelog"), QStringLiteral("safari"),
                                           "viewChangelogButton");
    for (QPushButton *button : {gettingStarted, feedback, changelog}) {
        auto *row = new QWidget();
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->addWidget(button);
        rowLayout->addStretch(1);
        support->addRow(row);
    }
    connect(gettingStarted, &QPushButton::clicked, this, [openURL, url = webSite.gettingStarted()] {
        if (openURL) {
            openURL(url);
        }
    });
    connect(feedback, &QPushButton::clicked, this, [submitFeedbackAction] {
        if (submitFeedbackAction) {
            submitFeedbackAction();
        }
    });
    connect(changelog, &QPushButton::clicked, this, [openURL, url = webSite.releaseNotes()] {
        if (openURL) {
            openURL(url);
        }
    });

    SettingsSection *privacy = addSection(
        QStringLiteral("Privacy & safety"),
        QStringLiteral("Quillby is not a replacement for your sensor app. Always confirm readings with your sensor app "
                       "or blood glucose meter before making treatment decisions."));
    privacy->addRow(linkLabel(QStringLiteral("Read privacy policy"), webSite.privacyPolicy(), openURL));
    privacy->addRow(linkLabel(QStringLiteral("Read terms of use"), webSite.termsOfUse(), openURL));

    connect(&model_, &SettingsViewModel::installedVersionChanged, this,
            [this] { version_->setText(QString::fromStdString(model_.installedVersion())); });
    version_->setText(QString::fromStdString(model_.installedVersion()));
}

void AboutSupportSettingsPane::appeared()
{
    model_.refreshUpdateStatus();
}

// --- SettingsView ---

SettingsView::SettingsView(SettingsViewModel &model, SettingsNavigation &navigation,
                           std::function<void()> submitFeedbackAction, SettingsWindowServices services,
                           QWidget *parent)
    : QWidget(parent), model_(model), navigation_(navigation), services_(std::move(services))
{
    setObjectName(QStringLiteral("settingsView"));
    useReadableControlStyle();
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    installAccessibilityInterfaces();
    // Escape and Ctrl+W close the window, as in the desktop's other settings windows. Sheets and
    // open lists are windows of their own and take these keys first.
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this] { window()->close(); });
    }
    if (!services_.announcer) {
        services_.announcer = &nullAnnouncer();
    }
    if (!services_.openURL) {
        services_.openURL = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    }
    if (!services_.makeHistoryConsentSheet) {
        services_.makeHistoryConsentSheet = [webSite = services_.webSite](QWidget *parent, HistoryCoordinator &history,
                                                                          bool isSignedIn) {
            return new HistoryEnableDisclosureView(&history, isSignedIn, webSite.privacyPolicy(), parent);
        };
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    layout->addWidget(splitter);

    // Sidebar.
    sidebar_ = new QListWidget(splitter);
    sidebar_->setObjectName(QStringLiteral("settingsSidebar"));
    sidebar_->setAccessibleName(QStringLiteral("Settings navigation"));
    sidebar_->setMinimumWidth(180);
    sidebar_->setIconSize(QSize(18, 18));
    sidebar_->setSpacing(1);
    sidebar_->setSelectionMode(QAbstractItemView::SingleSelection);
    for (SettingsTab tab : kAllSettingsTabs) {
        auto *item = new QListWidgetItem(settingsTabTitle(tab), sidebar_);
        item->setData(kTabRole, static_cast<int>(tab));
        item->setData(Qt::AccessibleTextRole, settingsTabTitle(tab) + QStringLiteral(" settings"));
        item->setSizeHint(QSize(0, 30));
        sidebar_->setItemWidget(item, new SidebarRowTag(tab, sidebar_));
    }
    connect(sidebar_, &QListWidget::itemSelectionChanged, this, &SettingsView::sidebarSelectionChanged);
    refreshAppearance();

    // Detail column: title, pane, status line.
    auto *detail = new QWidget(splitter);
    auto *detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 10, 0, 0);
    detailLayout->setSpacing(0);
    title_ = makePlainLabel(QString(), detail);
    title_->setObjectName(QStringLiteral("settingsPaneTitle"));
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    title_->setFont(titleFont);
    title_->setContentsMargins(20, 0, 20, 2);
    markAccessibleHeading(title_);
    detailLayout->addWidget(title_);
    panes_ = new QStackedWidget(detail);
    panes_->setObjectName(QStringLiteral("settingsDetail"));
    detailLayout->addWidget(panes_, 1);

    statusRow_ = new QWidget(detail);
    statusRow_->setObjectName(QStringLiteral("settingsStatusRow"));
    auto *statusLayout = new QVBoxLayout(statusRow_);
    statusLayout->setContentsMargins(20, 4, 20, 8);
    statusLayout->setSpacing(2);
    auto *statusLine = new QHBoxLayout();
    statusLine->setSpacing(8);
    statusLine->addWidget(makeSymbolLabel(settingsSymbol(QStringLiteral("exclamationmark.triangle")), 16, statusRow_),
                          0, Qt::AlignTop);
    statusText_ = makeSecondaryLabel(QString(), false, statusRow_);
    statusText_->setObjectName(QStringLiteral("settingsStatusMessage"));
    statusLine->addWidget(statusText_, 1);
    statusLayout->addLayout(statusLine);
    savedHistoryText_ = makeSecondaryLabel(QString(), false, statusRow_);
    savedHistoryText_->setObjectName(QStringLiteral("settingsSavedHistoryMessage"));
    statusLayout->addWidget(savedHistoryText_);
    detailLayout->addWidget(statusRow_);

    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({200, kMinimumWidth - 200});

    // Panes, in sidebar order.
    HistoryCoordinator *history = services_.historyCoordinator;
    paneByTab_[SettingsTab::general] = new GeneralSettingsPane(model_, services_.checkForUpdates, services_.updateInstallSupport);
    paneByTab_[SettingsTab::glucose] = new GlucoseSettingsPane(model_);
    paneByTab_[SettingsTab::insights] = new InsightsSettingsPane(model_, history, services_.makeHistoryConsentSheet);
    paneByTab_[SettingsTab::alerts] = new AlertsSettingsPane(model_, services_.announcer);
    paneByTab_[SettingsTab::account] = new AccountSettingsPane(model_, history, services_.announcer);
    paneByTab_[SettingsTab::about] = new AboutSupportSettingsPane(model_, std::move(submitFeedbackAction), services_.openURL,
                                                                   services_.webSite);
    for (SettingsTab tab : kAllSettingsTabs) {
        panes_->addWidget(paneByTab_[tab]);
    }

    connect(&navigation_, &SettingsNavigation::selectionChanged, this, &SettingsView::showSelection);
    connect(&model_, &SettingsViewModel::statusMessageChanged, this, [this] {
        refreshStatus();
        if (!model_.statusMessage().empty()) {
            services_.announcer->announce(QString::fromStdString(model_.statusMessage()));
        }
    });
    connect(&model_, &SettingsViewModel::isShowingTermsChanged, this, &SettingsView::refreshTermsSheet);
    if (history) {
        connect(history, &HistoryCoordinator::errorMessageChanged, this, &SettingsView::refreshStatus);
    }
    showSelection();
    refreshAppearance();
}

SettingsView::~SettingsView()
{
    delete termsSheet_.data();
}

SettingsTab SettingsView::shownTab() const
{
    return navigation_.selection().value_or(SettingsTab::account);
}

QWidget *SettingsView::pane(SettingsTab tab) const
{
    return paneByTab_.at(tab);
}

void SettingsView::showSelection()
{
    const SettingsTab tab = shownTab();
    {
        const QSignalBlocker blocker(sidebar_);
        sidebar_->clearSelection();
        if (const auto selection = navigation_.selection()) {
            QListWidgetItem *item = sidebar_->item(static_cast<int>(
                std::find(kAllSettingsTabs.begin(), kAllSettingsTabs.end(), *selection) - kAllSettingsTabs.begin()));
            sidebar_->setCurrentItem(item);
            item->setSelected(true);
        }
    }
    sidebar_->viewport()->update();
    title_->setText(settingsTabTitle(tab));
    panes_->setCurrentWidget(paneByTab_.at(tab));
    refreshStatus();
}

void SettingsView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && sidebar_) {
        refreshAppearance();
    }
}

void SettingsView::refreshAppearance()
{
    // Settings follows the desktop's colour scheme, light or dark, also when it changes while
    // the window is open.
    followDesktopAppearance(this);
    const QPalette &palette = sidebar_->palette();
    for (int row = 0; row < sidebar_->count(); ++row) {
        QListWidgetItem *item = sidebar_->item(row);
        const auto tab = static_cast<SettingsTab>(item->data(kTabRole).toInt());
        item->setIcon(settingsTintedSymbol(settingsTabSystemImage(tab), palette.color(QPalette::Active, QPalette::Text),
                                           palette.color(QPalette::Active, QPalette::HighlightedText)));
    }
    for (QPushButton *button : findChildren<QPushButton *>()) {
        const QVariant symbol = button->property(kButtonSymbol);
        if (symbol.isValid()) {
            const QColor ink = button->palette().color(QPalette::Active, QPalette::ButtonText);
            button->setIcon(settingsTintedSymbol(symbol.toString(), ink, ink));
        }
    }
    for (QLabel *label : findChildren<QLabel *>()) {
        const QVariant href = label->property(kLinkHref);
        if (href.isValid()) {
            label->setText(linkHtml(href.toString(), label->property(kLinkText).toString(), label->palette()));
        }
    }
}

void SettingsView::sidebarSelectionChanged()
{
    const QList<QListWidgetItem *> selected = sidebar_->selectedItems();
    if (selected.isEmpty()) {
        navigation_.setSelection(std::nullopt);
    } else {
        navigation_.setSelection(static_cast<SettingsTab>(selected.first()->data(kTabRole).toInt()));
    }
}

void SettingsView::refreshStatus()
{
    // The status line shows under every pane, so a failed save or launch-at-login change is
    // seen wherever the user is; the saved-history line belongs to the Account pane.
    const QString status = QString::fromStdString(model_.statusMessage());
    statusRow_->setVisible(!status.isEmpty());
    statusText_->setText(status);
    statusRow_->setAccessibleName(status);
    const QString historyError =
        services_.historyCoordinator ? services_.historyCoordinator->errorText() : QString();
    const bool showHistory = shownTab() == SettingsTab::account && !historyError.isEmpty();
    savedHistoryText_->setVisible(showHistory);
    savedHistoryText_->setText(showHistory ? QStringLiteral("Saved history: ") + historyError : QString());
}

void SettingsView::refreshTermsSheet()
{
    if (!model_.isShowingTerms()) {
        if (termsSheet_) {
            TermsAgreementSheet *sheet = termsSheet_;
            termsSheet_ = nullptr;
            sheet->done(QDialog::Rejected);
            sheet->deleteLater();
        }
        return;
    }
    if (termsSheet_ || !isVisible()) {
        return;
    }
    bool termsHaveChanged = false;
    if (ConfigurationManager *manager = services_.configurationManager) {
        termsHaveChanged = manager->acceptedTermsVersion().has_value() && !manager->hasAcceptedCurrentTerms();
    }
    auto *sheet = new TermsAgreementSheet(
        termsHaveChanged, [this] { model_.acceptTerms(); }, [this] { model_.setIsShowingTerms(false); },
        services_.webSite.termsOfUse(), this);
    sheet->openURL = services_.openURL;
    termsSheet_ = sheet;
    sheet->open();
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    runDetached(model_.loadConfiguration());
    refreshTermsSheet();
}

QWidget *makeSettingsView(SettingsViewModel &model, SettingsNavigation &navigation,
                          std::function<void()> submitFeedbackAction, const SettingsWindowServices &services)
{
    return new SettingsView(model, navigation, std::move(submitFeedbackAction), services);
}

} // namespace quillby
