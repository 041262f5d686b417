#include "SpeechRecogniser.h"

#include <pocketsphinx.h>

#include <QFile>

namespace LocalService {

namespace {

constexpr qsizetype frameBytes = SpeechRecogniser::frameSamples * 2;

// The library's own log goes nowhere: the service writes no log.
cmd_ln_t *configuration(const SpeechModel &model)
{
    const QByteArray hmm = QFile::encodeName(model.acousticModel);
    const QByteArray dict = QFile::encodeName(model.dictionary);
    const QByteArray lm = QFile::encodeName(model.languageModel);
    const QByteArray jsgf = QFile::encodeName(model.grammar);
    if (model.grammar.isEmpty()) {
        return cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict",
            dict.constData(), "-lm", lm.constData(), "-logfn", "/dev/null", nullptr);
    }
    return cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict", dict.constData(),
        "-jsgf", jsgf.constData(), "-logfn", "/dev/null", nullptr);
}

} // namespace

std::unique_ptr<SpeechRecogniser> SpeechRecogniser::create(
    const SpeechModel &model, qint64 firstSequence)
{
    cmd_ln_t *config = configuration(model);
    if (!config)
        return nullptr;
    ps_decoder_t *decoder = ps_init(config);
    cmd_ln_free_r(config);
    if (!decoder)
        return nullptr;
    if (ps_start_utt(decoder) < 0) {
        ps_free(decoder);
        return nullptr;
    }
    return std::unique_ptr<SpeechRecogniser>(new SpeechRecogniser(decoder, firstSequence));
}

SpeechRecogniser::SpeechRecogniser(ps_decoder_s *decoder, qint64 firstSequence)
    : m_decoder(decoder), m_nextSequence(firstSequence)
{
}

SpeechRecogniser::~SpeechRecogniser()
{
    ps_end_utt(m_decoder);
    ps_free(m_decoder);
}

std::vector<Caption> SpeechRecogniser::feed(const QByteArray &pcm)
{
    std::vector<Caption> out;
    m_pending += pcm;
    qsizetype used = 0;
    std::vector<qint16> samples(frameSamples);
    while (m_pending.size() - used >= frameBytes) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(m_pending.constData() + used);
        for (int i = 0; i < frameSamples; ++i)
            samples[size_t(i)] = qint16(quint16(bytes[2 * i]) | (quint16(bytes[2 * i + 1]) << 8));
        decodeFrame(samples.data(), frameSamples, out);
        used += frameBytes;
    }
    m_pending.remove(0, used);
    return out;
}

std::vector<Caption> SpeechRecogniser::flush()
{
    std::vector<Caption> out;
    m_pending.clear();
    closeUtterance(out);
    return out;
}

void SpeechRecogniser::restart(qint64 firstSequence)
{
    ps_end_utt(m_decoder);
    m_pending.clear();
    m_nextSequence = firstSequence;
    m_sequence = 0;
    m_inSpeech = false;
    m_lastPartial.clear();
    ps_start_utt(m_decoder);
}

void SpeechRecogniser::decodeFrame(const qint16 *samples, int count, std::vector<Caption> &out)
{
    ps_process_raw(m_decoder, samples, size_t(count), FALSE, FALSE);
    const bool inSpeech = ps_get_in_speech(m_decoder) != 0;
    if (inSpeech) {
        m_inSpeech = true;
        reportPartial(out);
    } else if (m_inSpeech) {
        closeUtterance(out);
    }
}

void SpeechRecogniser::reportPartial(std::vector<Caption> &out)
{
    const QString text = hypothesis();
    if (text.isEmpty() || text == m_lastPartial)
        return;
    if (m_sequence == 0)
        m_sequence = m_nextSequence++;
    m_lastPartial = text;
    out.push_back(Caption { m_sequence, false, text, std::nullopt });
}

void SpeechRecogniser::closeUtterance(std::vector<Caption> &out)
{
    ps_end_utt(m_decoder);
    const QString text = hypothesis();
    // A segment already shown as partial is always closed, even when nothing stayed of it.
    if (!text.isEmpty() && m_sequence == 0)
        m_sequence = m_nextSequence++;
    if (m_sequence != 0)
        out.push_back(Caption { m_sequence, true, text, std::nullopt });
    m_sequence = 0;
    m_inSpeech = false;
    m_lastPartial.clear();
    ps_start_utt(m_decoder);
}

QString SpeechRecogniser::hypothesis() const
{
    qint32 score = 0;
    const char *text = ps_get_hyp(m_decoder, &score);
    return text ? QString::fromUtf8(text).simplified() : QString();
}

} // namespace LocalService
