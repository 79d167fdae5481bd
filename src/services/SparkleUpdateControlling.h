#pragma once

namespace quillby {

// The update controller behind the update checker.
class SparkleUpdateControlling {
public:
    virtual ~SparkleUpdateControlling() = default;
    virtual void start() = 0;
    // Runs and clears the waiting install step of a downloaded update; false when none waits.
    virtual bool installPendingUpdate() = 0;
    // Starts a user-initiated update check.
    virtual void checkForUpdates() = 0;
};

// The inert controller: nothing is ever found, nothing is installed. On Linux the package
// manager installs new versions.
class NoOpSparkleUpdateController final : public SparkleUpdateControlling {
public:
    void start() override {}
    bool installPendingUpdate() override { return false; }
    void checkForUpdates() override {}
};

} // namespace quillby
