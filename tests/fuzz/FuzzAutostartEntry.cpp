// Fuzzes the autostart entry reader. Any text read from the entry's place parses without a
// crash, and the reader agrees with the parse (or refuses a text over the size limit). Taken as
// a program path, the input either is refused or gives an entry that reads back as ours and
// switched on, whose Exec line, unquoted as desktop entries say, is exactly that path.

#include "FuzzSupport.h"

#include "platform/LoginItemManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <optional>

using namespace quillby;

namespace {

// The Exec value as a launcher reads it: string escapes, then %% for %, then one argument in
// double quotes with \ before " ` $ and \. Empty when it is not exactly one quoted argument.
std::optional<QString> unquoteExec(const QString &value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            unescaped += value[i];
            continue;
        }
        if (++i == value.size()) {
            return std::nullopt;
        }
        const QChar next = value[i];
        unescaped += next == u's' ? u' ' : next == u'n' ? u'\n' : next == u't' ? u'\t' : next == u'r' ? u'\r' : next;
        if (next != u's' && next != u'n' && next != u't' && next != u'r' && next != u'\\') {
            return std::nullopt;
        }
    }
    QString codes;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        if (unescaped[i] == u'%') {
            if (++i == unescaped.size() || unescaped[i] != u'%') {
                return std::nullopt;   // a field code the entry never means
            }
        }
        codes += unescaped[i];
    }
    if (codes.size() < 2 || codes.front() != u'"' || codes.back() != u'"') {
        return std::nullopt;
    }
    QString argument;
    for (qsizetype i = 1; i + 1 < codes.size(); ++i) {
        QChar c = codes[i];
        if (c == u'"' || c == u'`' || c == u'$') {
            return std::nullopt;   // must have been escaped
        }
        if (c == u'\\') {
            if (i + 1 >= codes.size() - 1) {
                return std::nullopt;   // it would escape the closing quote
            }
            c = codes[++i];
            if (c != u'"' && c != u'`' && c != u'$' && c != u'\\') {
                return std::nullopt;
            }
        }
        argument += c;
    }
    return argument;
}

// The entry is written and read back for every input: in memory (/dev/shm) where there is such
// a folder, as a disk under load makes that the slowest part by far.
QString workspaceTemplate()
{
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    return memory.isDir() && memory.isWritable() ? QStringLiteral("/dev/shm/quillby-fuzz-XXXXXX")
                                                  : QDir::tempPath() + QStringLiteral("/quillby-fuzz-XXXXXX");
}

struct Workspace {
    QTemporaryDir home{workspaceTemplate()};
    LoginItemManager manager{QStringLiteral("/usr/bin/quillby"), home.path()};
    Workspace() { QDir().mkpath(home.filePath(QStringLiteral("autostart"))); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Workspace workspace;
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const LoginItemManager::EntryFlags flags = LoginItemManager::parseEntry(input);
    // Inputs starting with DEL are padded past the size limit (libFuzzer's inputs stay below it).
    const bool oversized = !input.isEmpty() && input.front() == '\x7f';
    {
        QFile file(workspace.manager.entryPath());
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(input) == input.size());
        if (oversized) {
            FUZZ_CHECK(file.write(QByteArray(LoginItemManager::kMaxEntryBytes, '#')) == LoginItemManager::kMaxEntryBytes);
        }
    }
    const LoginItemStatus status = workspace.manager.status();
    if (oversized || input.size() > LoginItemManager::kMaxEntryBytes || !flags.ours) {
        FUZZ_CHECK(status == LoginItemStatus::notFound);
    } else {
        FUZZ_CHECK(status == (flags.switchedOff ? LoginItemStatus::notRegistered : LoginItemStatus::enabled));
    }

    const QString path = QString::fromUtf8(input);
    QByteArray entry;
    try {
        entry = LoginItemManager::entryContents(path);
    } catch (const LoginItemError &) {
        for (const QChar c : path) {
            if (c.category() == QChar::Other_Control) {
                return 0;
            }
        }
        FUZZ_CHECK(!path.isValidUtf16());
        return 0;
    }
    const LoginItemManager::EntryFlags written = LoginItemManager::parseEntry(entry);
    FUZZ_CHECK(written.ours && !written.switchedOff);
    int execLines = 0;
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith("Exec=")) {
            ++execLines;
            const std::optional<QString> argument = unquoteExec(QString::fromUtf8(line.mid(5)));
            FUZZ_CHECK(argument.has_value());
            FUZZ_CHECK(*argument == path);
        }
    }
    FUZZ_CHECK(execLines == 1);
    return 0;
}
