#pragma once

#include "support/LocalServiceProcess.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QUrl>

#include <gtest/gtest.h>

// The local service started for this test executable (with --token-lifetime-ms 2000). Its origin
// and CA are in QUORVEL_SERVICE_ORIGIN / QUORVEL_SERVICE_CA before the first test runs; when it
// could not start, every test is skipped (developer machine) or fails (CI=true).
LocalServiceProcess &localService();

// A test on the shared local service, reset before each test.
class LocalServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!localService().isRunning())
            GTEST_SKIP() << "local service unavailable: " << localService().failure().toStdString();
        localService().reset();
    }
    LocalServiceProcess &service = localService();
};

// Signs `api` in as `phone` (with 1000 points) through the SMS code `service` sent.
TranslateCore::Credentials signIn(TranslateCore::TranslationAPI &api, const QString &phone,
    LocalServiceProcess &service = localService());

// Signs in, creates a session and returns its live socket address with a fresh one-use ticket.
QUrl newSessionSocket();
