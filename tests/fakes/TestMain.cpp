#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test program shares this main: widgets render offscreen unless a display
// platform was chosen, and a QApplication exists for the event loop.
int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuillbyTests"));
    QApplication::setApplicationName(QStringLiteral("QuillbyTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
