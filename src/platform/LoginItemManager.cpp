#include "platform/LoginItemManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillby {

namespace {

[[noreturn]] void throwErrno(int error)
{
    throw LoginItemError(std::strerror(error));
}

// mkdir -p, keeping the errno of the step that failed.
void makeFolders(const QString &path)
{
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    std::string partial;
    const std::string full = native.toStdString();
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = full.find('/', position + 1);
        partial = full.substr(0, position);
        if (partial.empty()) {
            continue;
        }
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            throwErrno(errno);
        }
    }
    struct stat info {};
    if (::stat(full.c_str(), &info) != 0) {
        throwErrno(errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        throwErrno(ENOTDIR);
    }
}

void writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    std::size_t left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throwErrno(errno);
    }
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL) {
        throwErrno(error);
    }
}

// Desktop entry Exec quoting: the path as one quoted argument with ", `, $ and \ escaped, then
// the string-value escaping of the file format (\ doubled) and %% for a literal %.
QByteArray execValue(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += u'\\';
        }
        quoted += c;
    }
    quoted = u'"' + quoted + u'"';
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return quoted.toUtf8();
}

struct EntryState {
    bool exists = false;
    bool readable = false;
    bool ours = false;
    bool switchedOff = false;
};

// Reads the entry without ever waiting on it: a regular file (directly or through a link) of at
// most kMaxEntryBytes. A pipe, device, folder or larger file exists but is not readable.
EntryState readEntry(const QString &path)
{
    EntryState state;
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        struct stat entry {};
        state.exists = errno != ENOENT || ::lstat(native.constData(), &entry) == 0;   // a dangling link exists
        return state;
    }
    state.exists = true;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > LoginItemManager::kMaxEntryBytes) {
        return state;
    }
    QByteArray text(LoginItemManager::kMaxEntryBytes + 1, Qt::Uninitialized);
    qsizetype length = 0;
    while (length < text.size()) {
        const ssize_t got = ::read(fd, text.data() + length, static_cast<std::size_t>(text.size() - length));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return state;
        }
        if (got == 0) {
            break;
        }
        length += got;
    }
    if (length > LoginItemManager::kMaxEntryBytes) {
        return state;   // grew past the limit while being read
    }
    text.truncate(length);
    state.readable = true;
    const LoginItemManager::EntryFlags flags = LoginItemManager::parseEntry(text);
    state.ours = flags.ours;
    state.switchedOff = flags.switchedOff;
    return state;
}

} // namespace

LoginItemManager::EntryFlags LoginItemManager::parseEntry(const QByteArray &text)
{
    EntryFlags flags;
    const QByteArray marker = kMarkerKey.toUtf8();
    bool inMainGroup = false;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == marker && value == "true") {
            flags.ours = true;
        } else if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            flags.switchedOff = true;
        }
    }
    return flags;
}

LoginItemManager::LoginItemManager(QString executablePath, QString configHome)
    : executablePath_(std::move(executablePath))
    , configHome_(std::move(configHome))
{
}

QString LoginItemManager::configHome() const
{
    if (!configHome_.isEmpty()) {
        return configHome_;
    }
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) {
        return xdg;
    }
    return QDir::homePath() + QStringLiteral("/.config");
}

QString LoginItemManager::entryPath() const
{
    return configHome() + QStringLiteral("/autostart/") + kFileName;
}

QByteArray LoginItemManager::entryContents(const QString &executablePath)
{
    const bool hasControlCharacter = std::any_of(executablePath.begin(), executablePath.end(),
                                                 [](QChar c) { return c.category() == QChar::Other_Control; });
    if (hasControlCharacter || !executablePath.isValidUtf16()) {
        throw LoginItemError("The program's path cannot be written into an autostart entry.");
    }
    QByteArray text;
    text += "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=Quillby\n";
    text += "Comment=Current glucose value and trend in the tray\n";
    text += "Exec=" + execValue(executablePath) + "\n";
    text += "Terminal=false\n";
    text += "X-GNOME-Autostart-enabled=true\n";
    text += kMarkerKey.toUtf8() + "=true\n";
    return text;
}

void LoginItemManager::registerApplication()
{
    QString program = executablePath_.isEmpty() ? QCoreApplication::applicationFilePath() : executablePath_;
    program = QFileInfo(program).absoluteFilePath();
    const QByteArray contents = entryContents(program);   // refuses a path an entry cannot carry
    const QString path = entryPath();
    const QString folder = QFileInfo(path).absolutePath();
    makeFolders(folder);
    const EntryState existing = readEntry(path);
    if (existing.exists && !existing.ours) {
        throw LoginItemError(QStringLiteral("%1 was not written by Quillby; remove it or make it start Quillby yourself.")
                                 .arg(path)
                                 .toStdString());
    }

    QByteArray temporary = QFile::encodeName(folder + QStringLiteral("/.quillby.desktop.XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        throwErrno(errno);
    }
    try {
        if (::fchmod(fd, 0644) != 0) {
            throwErrno(errno);
        }
        writeAll(fd, contents);
        if (::fsync(fd) != 0) {
            throwErrno(errno);
        }
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.constData());
        throw;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        throwErrno(error);
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        throwErrno(error);
    }
    syncFolder(folder);
}

void LoginItemManager::unregisterApplication()
{
    const QString path = entryPath();
    const EntryState existing = readEntry(path);
    if (!existing.exists || !existing.ours) {
        return;   // nothing of ours to remove; someone else's entry stays as it is
    }
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throwErrno(errno);
    }
    syncFolder(QFileInfo(path).absolutePath());
}

LoginItemStatus LoginItemManager::status() const
{
    const EntryState state = readEntry(entryPath());
    if (!state.exists) {
        return LoginItemStatus::notRegistered;
    }
    if (!state.readable || !state.ours) {
        return LoginItemStatus::notFound;
    }
    return state.switchedOff ? LoginItemStatus::notRegistered : LoginItemStatus::enabled;
}

} // namespace quillby
