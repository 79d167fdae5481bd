#include "onboarding/TermsAgreementCoordinator.h"

#include "core/ConfigurationManager.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quillby {

TermsAgreementCoordinator::TermsAgreementCoordinator(ConfigurationManager &configurationManager,
                                                     std::function<void()> onAccept,
                                                     std::function<void()> quitAction, QObject *parent)
    : QObject(parent)
    , configurationManager_(configurationManager)
    , onAccept_(std::move(onAccept))
    , quitAction_(std::move(quitAction))
{
    connect(&configurationManager_, &ConfigurationManager::acceptedTermsVersionChanged, this,
            [this](const std::optional<std::string> &version) {
                if (version && *version == ConfigurationManager::kCurrentTermsVersion) {
                    closeAfterAcceptance();
                }
            });
}

TermsAgreementCoordinator::~TermsAgreementCoordinator()
{
    delete window_.data();
}

void TermsAgreementCoordinator::show()
{
    if (configurationManager_.hasAcceptedCurrentTerms()) {
        return;
    }
    if (window_) {
        window_->show();
        window_->raise();
        window_->activateWindow();
        return;
    }
    const auto &accepted = configurationManager_.acceptedTermsVersion();
    const bool termsHaveChanged = accepted.has_value() && *accepted != ConfigurationManager::kCurrentTermsVersion;

    auto *window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                            Qt::WindowMinimizeButtonHint);
    window->setObjectName(QStringLiteral("termsWindow"));
    window->setWindowTitle(termsHaveChanged ? QStringLiteral("Updated terms of use") : QStringLiteral("Terms of use"));
    window->setFixedSize(800, 600);
    auto *layout = new QVBoxLayout(window);
    auto *text = new QLabel(termsHaveChanged
                                ? QStringLiteral("The terms of use have changed. Please agree to the updated terms to "
                                                 "continue using Quillby.")
                                : QStringLiteral("Please agree to the terms of use to start using Quillby."),
                            window);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text, 1);
    auto *buttons = new QHBoxLayout();
    auto *quitButton = new QPushButton(QStringLiteral("Quit"), window);
    quitButton->setObjectName(QStringLiteral("termsQuitButton"));
    auto *agreeButton = new QPushButton(QStringLiteral("Agree"), window);
    agreeButton->setObjectName(QStringLiteral("termsAgreeButton"));
    agreeButton->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(quitButton);
    buttons->addWidget(agreeButton);
    layout->addLayout(buttons);
    connect(agreeButton, &QPushButton::clicked, this, &TermsAgreementCoordinator::accept);
    connect(quitButton, &QPushButton::clicked, this, &TermsAgreementCoordinator::quit);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        // Centred on the screen (a compositor that places windows itself may ignore this).
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window_ = window;
    window->show();
    window->raise();
    window->activateWindow();
}

void TermsAgreementCoordinator::accept()
{
    if (!configurationManager_.hasAcceptedCurrentTerms()) {
        configurationManager_.acceptCurrentTerms();
    }
}

void TermsAgreementCoordinator::quit()
{
    if (quitAction_) {
        quitAction_();
    }
}

void TermsAgreementCoordinator::closeAfterAcceptance()
{
    if (!window_) {
        return;
    }
    QWidget *window = window_;
    window_ = nullptr;
    window->close();
    window->deleteLater();
    if (onAccept_) {
        onAccept_();
    }
}

} // namespace quillby
