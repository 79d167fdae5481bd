#include "services_window/UpdateCheckResultDialog.h"

#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace quillby::test {
namespace {

TEST(UpdateCheckResultDialog, OffersTheDownloadPageOnlyForANewerVersion)
{
    AppcastItem item;
    item.version = QStringLiteral("1.5.0");
    item.shortVersion = QStringLiteral("1.5");
    item.downloadLink = QUrl(QStringLiteral("https://quillby.app/download/1.5"));
    std::vector<QUrl> opened;
    QMessageBox *newer = makeUpdateCheckResultDialog({UpdateCheckOutcome::Kind::newerVersion, item, QStringLiteral("1.4.2")},
                                                     [&opened](const QUrl &url) { opened.push_back(url); });
    EXPECT_EQ(newer->textFormat(), Qt::PlainText);
    EXPECT_TRUE(newer->informativeText().contains(QStringLiteral("Quillby 1.5 is now available")));
    EXPECT_TRUE(newer->informativeText().endsWith(QStringLiteral("Get it from the download page.")));
    EXPECT_FALSE(newer->informativeText().contains(QStringLiteral("package manager")));
    auto *download = newer->findChild<QAbstractButton *>(QStringLiteral("updateDownloadButton"));
    ASSERT_NE(download, nullptr);
    download->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.front(), item.downloadLink);
    delete newer;

    // A page that is not https is never offered, however the item was made.
    item.downloadLink = QUrl(QStringLiteral("http://quillby.app/download/1.5"));
    QMessageBox *plain = makeUpdateCheckResultDialog({UpdateCheckOutcome::Kind::newerVersion, item, QStringLiteral("1.4.2")},
                                                     [](const QUrl &) {});
    EXPECT_EQ(plain->findChild<QAbstractButton *>(QStringLiteral("updateDownloadButton")), nullptr);
    delete plain;

    // Where this program installs updates, the menu's entry is named.
    UpdateCheckOutcome installable{UpdateCheckOutcome::Kind::newerVersion, item, QStringLiteral("1.4.2")};
    installable.installable = true;
    QMessageBox *menu = makeUpdateCheckResultDialog(installable, [](const QUrl &) {});
    EXPECT_TRUE(menu->informativeText().endsWith(
        QStringLiteral("Choose \u201cUpdate available\u201d in the Quillby menu to install it.")));
    delete menu;

    for (const auto kind : {UpdateCheckOutcome::Kind::upToDate, UpdateCheckOutcome::Kind::failed}) {
        QMessageBox *box = makeUpdateCheckResultDialog({kind, item, QStringLiteral("1.4.2")}, [](const QUrl &) {});
        EXPECT_EQ(box->findChild<QAbstractButton *>(QStringLiteral("updateDownloadButton")), nullptr);
        delete box;
    }
}

TEST(UpdateCheckResultDialog, ShowsFeedTextAsTypedWithNothingToOpen)
{
    AppcastItem item;
    item.version = QStringLiteral("1.5.0");
    item.shortVersion = QStringLiteral("<a href=\"file:///etc/passwd\">1.5</a>");
    item.downloadLink = QUrl(QStringLiteral("https://quillby.app/download/1.5"));
    for (const auto kind : {UpdateCheckOutcome::Kind::newerVersion, UpdateCheckOutcome::Kind::upToDate,
                            UpdateCheckOutcome::Kind::failed}) {
        QMessageBox *box = makeUpdateCheckResultDialog({kind, item, QStringLiteral("<b>1.4.2</b>")}, [](const QUrl &) {});
        int texts = 0;
        for (const QLabel *label : box->findChildren<QLabel *>()) {
            if (label->text().isEmpty()) {
                continue;
            }
            SCOPED_TRACE(label->text().toStdString());
            ++texts;
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_FALSE(label->openExternalLinks());
            EXPECT_FALSE(label->textInteractionFlags() & Qt::LinksAccessibleByMouse);
        }
        EXPECT_EQ(texts, 2);
        if (kind == UpdateCheckOutcome::Kind::newerVersion) {
            EXPECT_TRUE(box->informativeText().contains(item.shortVersion));
        }
        delete box;
    }
}

TEST(UpdateCheckResultDialog, RendersToPng)
{
    const QString folder = qEnvironmentVariable("QUILLBY_RENDER_DIR");
    AppcastItem item;
    item.version = QStringLiteral("1.5.0");
    item.shortVersion = QStringLiteral("<a href=\"file:///etc/passwd\">1.5</a>");
    item.downloadLink = QUrl(QStringLiteral("https://quillby.app/download/1.5"));
    const std::pair<UpdateCheckOutcome::Kind, const char *> kinds[] = {
        {UpdateCheckOutcome::Kind::newerVersion, "update-newer.png"},
        {UpdateCheckOutcome::Kind::upToDate, "update-up-to-date.png"},
        {UpdateCheckOutcome::Kind::failed, "update-failed.png"},
    };
    for (const auto &[kind, file] : kinds) {
        QMessageBox *box = makeUpdateCheckResultDialog({kind, item, QStringLiteral("1.4.2")}, [](const QUrl &) {});
        box->show();
        const QImage image = box->grab().toImage();
        EXPECT_FALSE(image.isNull());
        if (!folder.isEmpty()) {
            QDir().mkpath(folder);
            EXPECT_TRUE(image.save(QDir(folder).filePath(QString::fromLatin1(file))));
        }
        delete box;
    }
}

} // namespace
} // namespace quillby::test
