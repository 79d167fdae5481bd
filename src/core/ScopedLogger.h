#pragma once

#include <functional>
#include <string>

namespace quillby {

// The logger one component keeps for its lifetime. Lines go to syslog(3) under the ident
// "Quillby", one line per message, prefixed with the subsystem and the component's name:
// "[<subsystem>/<category>] <text>". The subsystem is the application's reverse-DNS
// identifier (organisation domain reversed, then the application name), or "app" when the
// application has no organisation domain. Never pass passwords, tokens, secrets, full
// installation identifiers or patient identifiers.
class ScopedLogger {
public:
    explicit ScopedLogger(std::string category);

    // Both write one entry at the error priority; nothing is formatted when that priority
    // is masked out (setlogmask). Synchronous, any thread, never fail.
    void error(const std::string &text) const;
    void warning(const std::string &text) const;

    const std::string &subsystem() const { return subsystem_; }
    const std::string &category() const { return category_; }

    // Tests: receives every entry instead of syslog while set; pass nullptr to restore.
    using Sink = std::function<void(int priority, const std::string &line)>;
    static void setSinkForTesting(Sink sink);

private:
    void write(const std::string &text) const;

    std::string subsystem_;
    std::string category_;
};

} // namespace quillby
