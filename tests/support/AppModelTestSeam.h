#pragma once

#include "TranslateMac/AppModel/AppModel.h"

#include "TranslateCore/API/TranslationAPI.h"

namespace TranslateMac {

// What tests reach inside the application model and nothing else does.
struct AppModelTestSeam {
    // The model's own service client: a test asks the service as the model would.
    static TranslateCore::TranslationAPI &api(AppModel &model) { return *model.m_api; }
    // How many QR sign-in runs the login screen's showing started.
    static int qrRunsStarted(const AppModel &model) { return model.m_qrRuns; }
};

} // namespace TranslateMac
