#pragma once

#include "AppModelFixture.h"

#include <QAbstractButton>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

// Screens over a model on the local service, with their preferences in a private settings
// folder and animations off (so the tests see final layouts at once).
class ScreenTest : public AppModelScenario {
protected:
    void SetUp() override;
    void TearDown() override;

    // The preferences the screens store.
    static QVariant storedDefault(const char *key);
    static void storeDefault(const char *key, const QVariant &value);

    // Runs the event loop briefly so layouts, queued calls and repaints settle.
    static void settle();
    // Saves `widget` as <build>/screenshots/<name>.png.
    static void screenshot(QWidget &widget, const QString &name);
    // Sends a server event on the live socket.
    void sendEvent(const QJsonObject &event)
    {
        onSocket({ { "action", "send" }, { "event", event } });
    }
    void sendCaption(qint64 seq, const QString &type, const QString &text);
};

// The button whose accessible name (its help text) or text is `name`; fails the test when absent.
QAbstractButton *button(const QWidget &root, const QString &name);
// Whether such a button is present and not hidden.
bool hasButton(const QWidget &root, const QString &name);
void click(const QWidget &root, const QString &name);
