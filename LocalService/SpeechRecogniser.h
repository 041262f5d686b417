#pragma once

#include "Recogniser.h"

#include <QString>

#include <memory>

struct ps_decoder_s;

namespace LocalService {

// Where the speech recogniser's models are. Without a grammar the general English language
// model is used; with one, only the sentences the grammar allows can be recognised.
struct SpeechModel {
    QString acousticModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us/en-us");
    QString dictionary = QStringLiteral("/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict");
    QString languageModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us/en-us.lm.bin");
    QString grammar; // a JSGF file; empty for the general model
};

// English speech recognition on pocketsphinx, in process. Audio is decoded in 100 ms frames; the
// library's voice activity opens a segment, its hypothesis is reported as a partial whenever it
// changes, and the pause that ends the speech turns it into the final.
class SpeechRecogniser : public Recogniser {
public:
    static constexpr int frameSamples = 1600; // 100 ms at 16 kHz

    // Null when the models cannot be loaded.
    static std::unique_ptr<SpeechRecogniser> create(const SpeechModel &model, qint64 firstSequence);
    ~SpeechRecogniser() override;

    std::vector<Caption> feed(const QByteArray &pcm) override;
    std::vector<Caption> flush() override;
    // Forgets the input so far (nothing is reported) and numbers the next segment
    // `firstSequence`: loading the models takes a second, so recognisers are kept and reused.
    void restart(qint64 firstSequence);

private:
    SpeechRecogniser(ps_decoder_s *decoder, qint64 firstSequence);
    void decodeFrame(const qint16 *samples, int count, std::vector<Caption> &out);
    void reportPartial(std::vector<Caption> &out);
    void closeUtterance(std::vector<Caption> &out);
    QString hypothesis() const;

    ps_decoder_s *m_decoder;
    qint64 m_nextSequence;
    qint64 m_sequence = 0; // the open segment's number; 0 until something was recognised
    bool m_inSpeech = false;
    QString m_lastPartial;
    QByteArray m_pending; // bytes short of a whole frame
};

} // namespace LocalService
