#include "RenderEnvironment.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

// Every test program shares this main: widgets render offscreen unless a display
// platform was chosen, and a QApplication exists for the event loop.
using quillby::prepareRenderEnvironment;
using quillby::RenderEnvironment;

int main(int argc, char **argv)
{
    // The render tests and the dark-scheme tests show a chosen colour scheme, scale and locale.
    const RenderEnvironment environment = prepareRenderEnvironment(argc, argv);
    if (!environment.scheme.isEmpty() && !qEnvironmentVariableIsSet("DISPLAY") &&
        qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("xcb")) {
        std::fprintf(stderr, "a colour scheme needs a display: run under scripts/with-session.sh\n");
        return 77;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuillbyTests"));
    QApplication::setApplicationName(QStringLiteral("QuillbyTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
