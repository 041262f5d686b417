#include "ScreenFixture.h"

#include "TranslateMac/Screens/Common/UserDefaults.h"
#include "support/ApplicationHarness.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QJsonObject>
#include <QSettings>

namespace {
QTemporaryDir &settingsFolder()
{
    static QTemporaryDir folder;
    return folder;
}
} // namespace

// The first window a process shows activates the application, which the root screen answers
// with refreshes; doing that once up front keeps each test's requests its own.
static void activateApplication()
{
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        return;
    QWidget first;
    first.show();
    first.activateWindow();
    TestSupport::spinUntil(
        [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; },
        std::chrono::seconds(2));
}

void ScreenTest::SetUp()
{
    activateApplication();
    qputenv("QUORVEL_REDUCE_MOTION", "1");
    qputenv("XDG_CONFIG_HOME", settingsFolder().filePath("config").toUtf8());
    QSettings::setPath(
        QSettings::NativeFormat, QSettings::UserScope, settingsFolder().filePath("config"));
    QSettings(QStringLiteral("Quorvel"), QStringLiteral("QuorvelTranslate")).clear();
    AppModelScenario::SetUp();
}

void ScreenTest::TearDown()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        window->close();
    // A model dropped while it listens leaves its live socket's loops behind (the application
    // always stops first): end the session the test left running.
    if (model && model->state() == TranslateMac::ListeningState::listening) {
        model->stop();
        TestSupport::spinUntil(
            [&] {
                return model->state() != TranslateMac::ListeningState::listening
                    && !model->settling();
            },
            std::chrono::seconds(10));
    }
    AppModelScenario::TearDown();
}

QVariant ScreenTest::storedDefault(const char *key)
{
    return TranslateMac::UserDefaults::value(key, QVariant());
}

void ScreenTest::storeDefault(const char *key, const QVariant &value)
{
    TranslateMac::UserDefaults::setValue(key, value);
}

void ScreenTest::settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

void ScreenTest::screenshot(QWidget &widget, const QString &name)
{
    settle();
    const QString path = TestSupport::screenshotPath(name + QStringLiteral(".png"));
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
}

void ScreenTest::sendCaption(qint64 seq, const QString &type, const QString &text)
{
    sendEvent({ { "type", type }, { "segmentSeq", seq }, { "text", text } });
}

QAbstractButton *button(const QWidget &root, const QString &name)
{
    for (QAbstractButton *candidate : root.findChildren<QAbstractButton *>()) {
        if (candidate->accessibleName() == name || candidate->text() == name)
            return candidate;
    }
    ADD_FAILURE() << "no button " << name.toStdString();
    return nullptr;
}

bool hasButton(const QWidget &root, const QString &name)
{
    for (QAbstractButton *candidate : root.findChildren<QAbstractButton *>()) {
        if ((candidate->accessibleName() == name || candidate->text() == name)
            && candidate->isVisibleTo(&root))
            return true;
    }
    return false;
}

void click(const QWidget &root, const QString &name)
{
    if (QAbstractButton *found = button(root, name)) {
        EXPECT_TRUE(found->isEnabled()) << name.toStdString();
        found->click();
    }
}
