#pragma once

#include <QByteArray>
#include <QDir>

#include <clocale>
#include <cstdlib>
#include <string>

namespace quillby::test {

// Switches the process's C locale to Turkish (ISO-8859-9) while it lives: there std::tolower
// turns 'I' into a dotless i and strcasecmp("FRI", "Fri") is not 0. The locale is compiled
// into the build folder when the tests are built (QUILLBY_TEST_LOCALE_DIR); `active()` is false
// when it could not be made or loaded there.
class ScopedTurkishLocale {
public:
    ScopedTurkishLocale()
    {
        const char *current = std::setlocale(LC_ALL, nullptr);
        previous_ = current ? current : "C";
        const char *path = std::getenv("LOCPATH");
        hadLocPath_ = path != nullptr;
        previousLocPath_ = path ? path : "";
        ::setenv("LOCPATH", QUILLBY_TEST_LOCALE_DIR, 1);
        active_ = std::setlocale(LC_ALL, "tr_TR.ISO-8859-9") != nullptr;
    }
    ~ScopedTurkishLocale()
    {
        std::setlocale(LC_ALL, previous_.c_str());
        if (hadLocPath_) {
            ::setenv("LOCPATH", previousLocPath_.c_str(), 1);
        } else {
            ::unsetenv("LOCPATH");
        }
    }
    ScopedTurkishLocale(const ScopedTurkishLocale &) = delete;
    ScopedTurkishLocale &operator=(const ScopedTurkishLocale &) = delete;

    bool active() const { return active_; }

private:
    std::string previous_;
    std::string previousLocPath_;
    bool hadLocPath_ = false;
    bool active_ = false;
};

} // namespace quillby::test
