#include "ApertiumPipeline.h"
#include "AudioSegmenter.h"
#include "ServiceServer.h"

#include <QDir>

namespace LocalService {

namespace {
// Each holds its own copy of the models (tens of MB); more sockets at once load more.
constexpr size_t keptRecognisers = 2;
} // namespace

std::unique_ptr<Recogniser> ServiceServer::makeRecogniser(
    const Session &session, qint64 firstSequence)
{
    if (session.translationPair.isEmpty())
        return std::make_unique<AudioSegmenter>(firstSequence);
    if (!m_idleRecognisers.empty()) {
        std::unique_ptr<SpeechRecogniser> kept = std::move(m_idleRecognisers.back());
        m_idleRecognisers.pop_back();
        kept->restart(firstSequence);
        return kept;
    }
    if (auto speech = SpeechRecogniser::create(m_options.speechModel, firstSequence))
        return speech;
    return std::make_unique<AudioSegmenter>(firstSequence);
}

void ServiceServer::recycleRecogniser(std::unique_ptr<Recogniser> recogniser)
{
    auto *speech = dynamic_cast<SpeechRecogniser *>(recogniser.get());
    if (!speech || m_idleRecognisers.size() >= keptRecognisers)
        return;
    recogniser.release();
    m_idleRecognisers.emplace_back(speech);
}

ApertiumPipeline *ServiceServer::translator(const QString &pair)
{
    std::unique_ptr<ApertiumPipeline> &pipeline = m_translators[pair];
    if (!pipeline) {
        const QString mode = QDir(m_options.apertiumModes).filePath(pair + QStringLiteral(".mode"));
        pipeline = std::make_unique<ApertiumPipeline>(
            readApertiumMode(mode), m_options.translationTimeoutMs);
    }
    return pipeline.get();
}

} // namespace LocalService
