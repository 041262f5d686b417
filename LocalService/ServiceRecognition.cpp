#include "ApertiumPipeline.h"
#include "AudioSegmenter.h"
#include "ServiceServer.h"

#include <QDir>

namespace LocalService {

std::unique_ptr<Recogniser> ServiceServer::makeRecogniser(
    const Session &session, qint64 firstSequence)
{
    if (!session.translationPair.isEmpty()) {
        if (auto speech = SpeechRecogniser::create(m_options.speechModel, firstSequence))
            return speech;
    }
    return std::make_unique<AudioSegmenter>(firstSequence);
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
