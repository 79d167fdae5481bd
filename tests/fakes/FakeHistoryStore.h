#pragma once

#include "history/GlucoseHistoryStoring.h"

#include <QTimer>

#include <algorithm>
#include <coroutine>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quillby::test {

// A scriptable in-memory history store. It keeps, per account scope, a configuration and the
// saved readings, changing them by the configuration's own rules (attach and detach, enable and
// disable, retention, which readings an append takes and which are kept) over a simpler store
// (appends need a matching token and an enabled account, delete-all clears everything), and it
// lets a test:
//   - see every call with its arguments (calls),
//   - make the next call(s) of an operation fail with a GlucoseHistoryError (failNext),
//   - hold calls of an operation until released (hold / release), to test what happens while
//     the store works.
// Every call completes on a later event-loop turn, never inside the call, like the real store.
// Main thread only.
class FakeHistoryStore final : public GlucoseHistoryStoring {
public:
    enum class Op { snapshot, activateAccount, enableCollection, disableCollection, setRetentionDays, append,
                    deleteAllHistory, prepareStorage };

    struct Call {
        Op op = Op::snapshot;
        Date now = 0;
        std::optional<std::string> scope;   // activateAccount
        int days = 0;                       // setRetentionDays
        GlucoseReadings readings;           // append
        Date fetchedAt = 0;                 // append
        GlucoseHistoryCollectionToken token;   // append
    };

    struct Account {
        GlucoseHistoryConfiguration configuration;
        GlucoseReadings readings;   // ascending by date
    };

    // --- State ---
    std::map<std::string, Account> accounts;
    std::optional<std::string> activeScope;
    std::optional<Date> collectionCutoff;
    std::vector<Call> calls;

    // Puts an account into the store (enabled with the given readings unless told otherwise).
    Account &seed(const std::string &scope, GlucoseReadings readings = {}, bool enabled = true)
    {
        Account &account = accounts[scope];
        account.configuration.accountScope = scope;
        account.configuration.isEnabled = enabled;
        if (enabled) {
            account.configuration.consentVersion = 1;
            account.configuration.hasPreviouslyEnabled = true;
            account.configuration.collectionIntervalStart = 0;
        }
        account.readings = std::move(readings);
        sortReadings(account.readings);
        return account;
    }

    // --- Scripting ---
    void failNext(Op op, GlucoseHistoryError::Case error, int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            failures_[op].push_back(error);
        }
    }
    void hold(Op op) { held_.insert(op); }
    // Lets every held call of `op` go on (in call order); later calls are no longer held.
    void release(Op op)
    {
        held_.erase(op);
        auto waiting = std::move(waiting_[op]);
        waiting_.erase(op);
        for (auto handle : waiting) {
            QTimer::singleShot(0, [handle] { handle.resume(); });
        }
    }
    std::size_t heldCount(Op op) const
    {
        const auto found = waiting_.find(op);
        return found == waiting_.end() ? 0 : found->second.size();
    }
    int count(Op op) const
    {
        return static_cast<int>(std::count_if(calls.begin(), calls.end(), [op](const Call &c) { return c.op == op; }));
    }
    std::vector<Call> callsOf(Op op) const
    {
        std::vector<Call> result;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(result), [op](const Call &c) { return c.op == op; });
        return result;
    }

    // --- GlucoseHistoryStoring ---
    QCoro::Task<GlucoseHistorySnapshot> snapshot(Date now) override
    {
        record(Op::snapshot, now);
        co_await turn(Op::snapshot);
        throwIfScripted(Op::snapshot);
        co_return currentSnapshot(now);
    }

    QCoro::Task<GlucoseHistorySnapshot> activateAccount(std::optional<std::string> scope, Date now) override
    {
        record(Op::activateAccount, now).scope = scope;
        co_await turn(Op::activateAccount);
        if (scope != activeScope) {
            if (activeScope) {
                auto &old = accounts[*activeScope].configuration;
                old = old.detached();
            }
            activeScope.reset();
        }
        if (const auto error = takeFailure(Op::activateAccount)) {
            activeScope.reset();   // a failed activation leaves no account active
            throw GlucoseHistoryError(*error);
        }
        if (scope && scope != activeScope) {
            auto &configuration = accounts[*scope].configuration;
            configuration = configuration.attachedTo(*scope, collectionCutoff, false, now);
            activeScope = scope;
        }
        co_return currentSnapshot(now);
    }

    QCoro::Task<GlucoseHistorySnapshot> enableCollection(Date now) override
    {
        record(Op::enableCollection, now);
        co_await turn(Op::enableCollection);
        throwIfScripted(Op::enableCollection);
        auto &configuration = requireActive().configuration;
        configuration = configuration.enabledForCollection(now);
        co_return currentSnapshot(now);
    }

    QCoro::Task<GlucoseHistorySnapshot> disableCollection(Date now) override
    {
        record(Op::disableCollection, now);
        co_await turn(Op::disableCollection);
        throwIfScripted(Op::disableCollection);
        if (activeScope) {
            auto &configuration = accounts[*activeScope].configuration;
            configuration = configuration.disabledForCollection();
        }
        co_return currentSnapshot(now);
    }

    QCoro::Task<GlucoseHistorySnapshot> setRetentionDays(int days, Date now) override
    {
        record(Op::setRetentionDays, now).days = days;
        co_await turn(Op::setRetentionDays);
        if (!GlucoseHistoryConfiguration::isRetentionChoice(days)) {
            throw GlucoseHistoryError::invalidRetention();
        }
        throwIfScripted(Op::setRetentionDays);
        requireActive().configuration.retentionDays = days;
        co_return currentSnapshot(now);
    }

    QCoro::Task<void> append(GlucoseReadings readings, Date fetchedAt, GlucoseHistoryCollectionToken token,
                             Date now) override
    {
        Call &call = record(Op::append, now);
        call.readings = readings;
        call.fetchedAt = fetchedAt;
        call.token = token;
        co_await turn(Op::append);
        throwIfScripted(Op::append);
        if (!activeScope || *activeScope != token.accountScope) {
            co_return;
        }
        Account &account = accounts[*activeScope];
        const auto &configuration = account.configuration;
        if (!configuration.isEnabled || configuration.pendingDeletion || configuration.epoch != token.epoch) {
            co_return;
        }
        for (const auto &reading : readings) {
            if (!configuration.acceptsReading(reading, now)) {
                continue;
            }
            std::erase_if(account.readings, [&](const GlucoseReading &r) { return r.date == reading.date; });
            account.readings.push_back(reading);
        }
        sortReadings(account.readings);
    }

    QCoro::Task<GlucoseHistorySnapshot> deleteAllHistory(Date now) override
    {
        record(Op::deleteAllHistory, now);
        co_await turn(Op::deleteAllHistory);
        throwIfScripted(Op::deleteAllHistory);
        accounts.clear();
        collectionCutoff = std::max(now, collectionCutoff.value_or(now));
        if (activeScope) {
            // The active account starts over in a new folder.
            accounts[*activeScope].configuration =
                GlucoseHistoryConfiguration().attachedTo(*activeScope, collectionCutoff, false, now);
        }
        co_return currentSnapshot(now);
    }

    QCoro::Task<void> prepareStorage() override
    {
        record(Op::prepareStorage, 0);
        co_await turn(Op::prepareStorage);
        throwIfScripted(Op::prepareStorage);
    }

    // The snapshot the store would give now, without recording a call.
    GlucoseHistorySnapshot currentSnapshot(Date now)
    {
        if (!activeScope) {
            GlucoseHistorySnapshot detached;
            detached.configuration.collectionCutoff = collectionCutoff;
            return detached;
        }
        Account &account = accounts[*activeScope];
        const auto &configuration = account.configuration;
        std::erase_if(account.readings,
                      [&](const GlucoseReading &r) { return !configuration.keepsReadingAt(r.date, now); });
        return {configuration, account.readings};
    }

private:
    // Resumes on a later event-loop turn, or when the test releases a held operation.
    struct Turn {
        FakeHistoryStore *store;
        Op op;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            if (store->held_.count(op)) {
                store->waiting_[op].push_back(handle);
            } else {
                QTimer::singleShot(0, [handle] { handle.resume(); });
            }
        }
        void await_resume() const noexcept {}
    };
    Turn turn(Op op) { return Turn{this, op}; }

    Call &record(Op op, Date now)
    {
        Call call;
        call.op = op;
        call.now = now;
        calls.push_back(std::move(call));
        return calls.back();
    }

    std::optional<GlucoseHistoryError::Case> takeFailure(Op op)
    {
        auto &queue = failures_[op];
        if (queue.empty()) {
            return std::nullopt;
        }
        const auto error = queue.front();
        queue.pop_front();
        return error;
    }
    void throwIfScripted(Op op)
    {
        if (const auto error = takeFailure(op)) {
            throw GlucoseHistoryError(*error);
        }
    }
    Account &requireActive()
    {
        if (!activeScope) {
            throw GlucoseHistoryError::accountRequired();
        }
        return accounts[*activeScope];
    }
    static void sortReadings(GlucoseReadings &readings)
    {
        std::sort(readings.begin(), readings.end(),
                         [](const GlucoseReading &a, const GlucoseReading &b) { return a.date < b.date; });
    }

    std::map<Op, std::deque<GlucoseHistoryError::Case>> failures_;
    std::set<Op> held_;
    std::map<Op, std::vector<std::coroutine_handle<>>> waiting_;
};

} // namespace quillby::test
