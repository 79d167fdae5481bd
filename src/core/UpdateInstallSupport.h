#pragma once

namespace quillby {

// Whether this program installs its own updates, and if not, why: it needs a build with the
// update signing key, to run from its installed package, and PackageKit on the system.
// Until known (`checking`) it only reports newer versions.
enum class UpdateInstallSupport { checking, installs, notSigned, notFromPackage, noPackageKit };

} // namespace quillby
