// Feeds arbitrary bytes to the readers of the QR sign-in and recharge records. A reader may refuse
// its input only with its own failure types; anything else (a crash, a sanitizer report, another
// exception) is a fault the fuzzer must see.
#include "TranslateCore/Contract/TranslationFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginChallenge.h"
#include "TranslateCore/DeviceLogin/DeviceLoginFailure.h"
#include "TranslateCore/DeviceLogin/DeviceLoginPoll.h"
#include "TranslateCore/Recharge/PaymentHandoff.h"
#include "TranslateCore/Recharge/RechargeOrder.h"
#include "TranslateCore/Recharge/RechargePackage.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

namespace {

template <typename Read> void readRefusingOnlyKnownFailures(Read read)
{
    try {
        read();
    } catch (const TranslateCore::TranslationFailure &) {
    } catch (const TranslateCore::DeviceLoginFailure &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace TranslateCore;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromRawData(
        reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    if (!document.isObject())
        return 0;
    const QJsonObject json = document.object();
    readRefusingOnlyKnownFailures([&] { DeviceLoginChallenge::fromJson(json, 1); });
    readRefusingOnlyKnownFailures([&] { DeviceLoginPoll::fromJson(json); });
    readRefusingOnlyKnownFailures([&] { RechargePackage::fromJson(json); });
    readRefusingOnlyKnownFailures([&] { RechargeOrder::fromJson(json); });
    // A fixed clock keeps every run of one input reproducible.
    readRefusingOnlyKnownFailures([&] {
        PaymentHandoff::fromJson(json, Instant(std::chrono::milliseconds(1'700'000'000'000)));
    });
    return 0;
}
