#include "TranslateMac/AppModel/AppModel.h"
#include "TranslateMac/Shell/QuorvelTranslateMacApp.h"
#include "TranslateMac/Shell/WorkspaceWindow.h"

#include "support/ApplicationHarness.h"
#include "support/TestSupport.h"
#include "support/VirtualDesktop.h"

#include <QFile>
#include <QRegularExpression>
#include <QWindow>

#include <gtest/gtest.h>

using namespace TranslateMac;

namespace {

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The value of `key=` in a desktop entry, or a null string.
QString desktopEntryValue(const QString &entry, const QString &key)
{
    const QRegularExpression line(u'^' + QRegularExpression::escape(key) + QStringLiteral("=(.*)$"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(entry);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

// Task bars group a window under the launcher whose desktop file names the window's class (X11)
// or app id (Wayland), and show that file's icon: every one of these names must be the same.
TEST(DesktopIdentity, WindowClassDesktopFileIconAndMetainfoShareOneName)
{
    QUORVEL_REQUIRE_DESKTOP();
    const QString id = QuorvelTranslateMacApp::desktopName;
    const QString appSource = TestSupport::buildPath(QUORVEL_APP_SOURCE_DIR);
    const QString entry = fileText(appSource + "/" + id + ".desktop");
    ASSERT_FALSE(entry.isEmpty());
    EXPECT_EQ(desktopEntryValue(entry, QStringLiteral("Icon")), id);
    EXPECT_EQ(desktopEntryValue(entry, QStringLiteral("StartupWMClass")), id);
    EXPECT_EQ(
        desktopEntryValue(entry, QStringLiteral("Exec")), QStringLiteral("quorvel-translate"));
    EXPECT_TRUE(QFile::exists(appSource + "/" + id + ".svg"));
    const QString metainfo
        = fileText(TestSupport::buildPath(QUORVEL_APP_BINARY_DIR) + "/" + id + ".metainfo.xml");
    EXPECT_TRUE(metainfo.contains(QStringLiteral("<id>%1</id>").arg(id)));
    EXPECT_TRUE(metainfo.contains(
        QStringLiteral("<launchable type=\"desktop-id\">%1.desktop</launchable>").arg(id)));

    TestSupport::ApplicationSurroundings surroundings;
    ASSERT_TRUE(surroundings.isReady()) << surroundings.failure().toStdString();
    QuorvelTranslateMacApp app(surroundings.model());
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return app.window().windowHandle() && app.window().windowHandle()->isExposed(); }));
    const QString windowClass = TestSupport::commandOutput(QStringLiteral("xprop"),
        { QStringLiteral("-id"), QString::number(app.window().winId()),
            QStringLiteral("WM_CLASS") });
    EXPECT_TRUE(windowClass.trimmed().endsWith(QStringLiteral(", \"%1\"").arg(id)))
        << windowClass.toStdString();
}
