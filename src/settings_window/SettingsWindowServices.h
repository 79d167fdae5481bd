#pragma once

#include "core/ProductWebSite.h"
#include "core/UpdateInstallSupport.h"

#include <QUrl>

#include <functional>

class QDialog;
class QWidget;

namespace quillby {

class Announcer;
class ConfigurationManager;
class HistoryCoordinator;

// What the Settings window reaches besides its model: the configuration owner (terms version
// for the terms sheet), the shared history coordinator (Account and Insights panes), the
// spoken announcements, and the desktop actions, which tests replace.
struct SettingsWindowServices {
    ConfigurationManager *configurationManager = nullptr;
    HistoryCoordinator *historyCoordinator = nullptr;   // the panes show no saved history without it
    Announcer *announcer = nullptr;                     // default: nothing is spoken
    // Where the links of the About and Privacy rows and the sheets lead.
    ProductWebSite webSite;
    // Opens a web page (default: the desktop's browser).
    std::function<void(const QUrl &)> openURL;
    // Starts a check for updates that the user asked for (default: none).
    std::function<void()> checkForUpdates;
    // Whether updates are installed here (default: they are only reported).
    std::function<UpdateInstallSupport()> updateInstallSupport;
    // The consent sheet shown before saving history is turned on, window-modal on `parent`
    // (default: the Insights window's consent sheet).
    std::function<QDialog *(QWidget *parent, HistoryCoordinator &history, bool isSignedIn)> makeHistoryConsentSheet;
};

} // namespace quillby
