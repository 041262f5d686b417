#pragma once

#include "support/LocalServiceProcess.h"

#include "TranslateCore/API/TranslationAPI.h"

#include <QUrl>

// The local service started for this test executable (with --token-lifetime-ms 2000). Its origin
// and CA are in QUORVEL_SERVICE_ORIGIN / QUORVEL_SERVICE_CA before the first test runs; when it
// could not start, every test is skipped (developer machine) or fails (CI=true).
LocalServiceProcess &localService();

// Signs `api` in as `phone` (with 1000 points) through the SMS code `service` sent.
TranslateCore::Credentials signIn(TranslateCore::TranslationAPI &api, const QString &phone,
    LocalServiceProcess &service = localService());

// Signs in, creates a session and returns its live socket address with a fresh one-use ticket.
QUrl newSessionSocket();
