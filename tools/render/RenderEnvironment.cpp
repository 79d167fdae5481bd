#include "RenderEnvironment.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace quillby {

namespace {

// The Breeze colours of KDE Plasma, light and dark: what Qt's KDE theme turns into a palette.
const char *kdeglobals(bool dark)
{
    if (dark) {
        return "[General]\nColorScheme=BreezeDark\n\n"
               "[KDE]\nwidgetStyle=Fusion\n\n"
               "[Colors:Window]\nBackgroundNormal=32,35,38\nForegroundNormal=252,252,252\n\n"
               "[Colors:View]\nBackgroundNormal=20,22,24\nBackgroundAlternate=29,31,34\nForegroundNormal=252,252,252\n"
               "ForegroundLink=29,153,243\nForegroundVisited=155,89,182\n\n"
               "[Colors:Button]\nBackgroundNormal=41,44,48\nForegroundNormal=252,252,252\n\n"
               "[Colors:Selection]\nBackgroundNormal=61,174,233\nForegroundNormal=252,252,252\n\n"
               "[Colors:Tooltip]\nBackgroundNormal=41,44,48\nForegroundNormal=252,252,252\n";
    }
    return "[General]\nColorScheme=BreezeLight\n\n"
           "[KDE]\nwidgetStyle=Fusion\n\n"
           "[Colors:Window]\nBackgroundNormal=239,240,241\nForegroundNormal=35,38,41\n\n"
           "[Colors:View]\nBackgroundNormal=255,255,255\nBackgroundAlternate=247,247,247\nForegroundNormal=35,38,41\n"
           "ForegroundLink=41,128,185\nForegroundVisited=155,89,182\n\n"
           "[Colors:Button]\nBackgroundNormal=252,252,252\nForegroundNormal=35,38,41\n\n"
           "[Colors:Selection]\nBackgroundNormal=61,174,233\nForegroundNormal=255,255,255\n\n"
           "[Colors:Tooltip]\nBackgroundNormal=247,247,247\nForegroundNormal=35,38,41\n";
}

QString takeOption(int &argc, char **argv, const char *name, const char *variable)
{
    QString value = qEnvironmentVariable(variable);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0 && i + 1 < argc) {
            value = QString::fromLocal8Bit(argv[i + 1]);
            for (int j = i; j + 2 < argc; ++j) {
                argv[j] = argv[j + 2];
            }
            argc -= 2;
            argv[argc] = nullptr;
            break;
        }
    }
    return value;
}

void useScheme(const QString &scheme)
{
    const bool dark = scheme == QLatin1String("dark");
    if (!dark && scheme != QLatin1String("light")) {
        std::fprintf(stderr, "unknown scheme %s (light or dark)\n", qPrintable(scheme));
        std::exit(2);
    }
    // A folder of its own that lives as long as the process: Qt's theme reads it at start-up.
    QByteArray folder = QDir::tempPath().toLocal8Bit() + "/quillby-scheme-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    QFile file(QString::fromLocal8Bit(folder) + QStringLiteral("/kdeglobals"));
    if (!file.open(QIODevice::WriteOnly) || file.write(kdeglobals(dark)) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    file.close();
    qputenv("XDG_CONFIG_HOME", folder);
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    qputenv("KDE_SESSION_VERSION", "5");
    qunsetenv("QT_QPA_PLATFORMTHEME");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsSet("DISPLAY") ? "xcb" : "offscreen");
    }
}

void useLocale(const QString &locale)
{
    const QByteArray name = locale.toLocal8Bit() + ".UTF-8";
    qputenv("LANG", name);
    qputenv("LC_ALL", name);
    qputenv("LANGUAGE", locale.toLocal8Bit());
#ifdef QUILLBY_LOCALE_DIR
    // Locales built with the project, for systems that have not generated them.
    if (QFile::exists(QStringLiteral(QUILLBY_LOCALE_DIR "/") + QString::fromLocal8Bit(name))) {
        qputenv("LOCPATH", QUILLBY_LOCALE_DIR);
    }
#endif
}

} // namespace

RenderEnvironment prepareRenderEnvironment(int &argc, char **argv)
{
    RenderEnvironment environment;
    environment.scheme = takeOption(argc, argv, "--scheme", "QUILLBY_RENDER_SCHEME");
    environment.scale = takeOption(argc, argv, "--scale", "QUILLBY_RENDER_SCALE");
    environment.locale = takeOption(argc, argv, "--locale", "QUILLBY_RENDER_LOCALE");
    if (!environment.scheme.isEmpty()) {
        useScheme(environment.scheme);
    }
    if (!environment.scale.isEmpty()) {
        qputenv("QT_SCALE_FACTOR", environment.scale.toLocal8Bit());
    }
    if (!environment.locale.isEmpty()) {
        useLocale(environment.locale);
    }
    return environment;
}

} // namespace quillby
