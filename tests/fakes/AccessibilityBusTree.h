#pragma once

#include "WaitUntil.h"

#include <QAccessible>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <optional>

namespace quillby::test {

// One object of the accessibility tree as a client reads it over the accessibility bus.
struct BusNode {
    int depth = 0;
    QString role;
    QString name;
    QString description;
};

// Whether this test process exports its widgets on a real accessibility bus that a client can
// read: an X display, the accessibility bridge on and Debian's Python with its AT-SPI binding.
inline bool accessibilityBusAvailable()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") && QFile::exists(QStringLiteral("/usr/bin/python3"));
}

// This process's accessibility tree read by a client on the bus (tests/fakes/atspi-tree.py),
// depth first; none if the client failed. The event loop runs meanwhile, so the bridge answers.
inline std::optional<std::vector<BusNode>> accessibilityBusTree()
{
    QProcess client;
    client.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(QUILLBY_ATSPI_TREE_SCRIPT), QString::number(QCoreApplication::applicationPid()),
                  QString::number(scaledTimeoutMs(60000) / 1000)});
    if (!waitUntil([&] { return client.state() == QProcess::NotRunning; }, 120'000)) {
        client.kill();
        client.waitForFinished();
        return std::nullopt;
    }
    if (client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0) {
        qWarning("%s", client.readAllStandardError().constData());
        return std::nullopt;
    }
    std::vector<BusNode> nodes;
    for (const QJsonValue value : QJsonDocument::fromJson(client.readAllStandardOutput()).array()) {
        const QJsonObject node = value.toObject();
        nodes.push_back({node.value(QStringLiteral("depth")).toInt(), node.value(QStringLiteral("role")).toString(),
                         node.value(QStringLiteral("name")).toString(),
                         node.value(QStringLiteral("description")).toString()});
    }
    return nodes;
}

} // namespace quillby::test
