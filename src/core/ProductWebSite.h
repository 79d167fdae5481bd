#pragma once

#include <QString>
#include <QUrl>

namespace quillby {

// The product's web site, where the windows' links lead: the terms of use, the privacy policy,
// the providers' guides and the release notes. It lives at the product server's address, which
// is fixed at build time and known to the composition root alone; the root hands the site to the
// windows that show links, and tests and render tools make their own. Without an address a page
// is its path alone.
class ProductWebSite {
public:
    ProductWebSite() = default;
    explicit ProductWebSite(const QString &address) : address_(address) {}

    const QUrl &address() const { return address_; }
    // The page at `path` from the site's root, with `fragment` when one is given.
    QUrl page(const QString &path, const QString &fragment = {}) const;

    QUrl termsOfUse() const { return page(QStringLiteral("/terms")); }
    QUrl privacyPolicy() const { return page(QStringLiteral("/privacy")); }
    QUrl releaseNotes() const { return page(QStringLiteral("/changelog")); }
    QUrl gettingStarted() const { return page(QStringLiteral("/"), QStringLiteral("getting-started")); }

private:
    QUrl address_;
};

} // namespace quillby
