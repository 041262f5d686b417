#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// English speech for tests and benchmarks, made on the spot: espeak-ng speaks, sox converts.
namespace SpeechTestSupport {

// Writes `text` spoken by espeak-ng (American English, which the recogniser's model knows) to
// `wavPath` as 16 kHz mono 16-bit WAV; false on failure.
bool synthesise(const QString &text, const QString &wavPath);
// The samples of a 16-bit PCM WAV file (little-endian), or empty when it is not one.
QByteArray wavSamples(const QString &wavPath);
// `text` spoken, as 16 kHz mono PCM (synthesised into `folder`); empty on failure.
QByteArray spoken(const QString &text, const QString &folder);
// `milliseconds` of 16 kHz mono silence.
QByteArray silence(int milliseconds);
// Writes a JSGF grammar that accepts exactly `sentences` (lower-case words) to `path`.
bool writeGrammar(const QStringList &sentences, const QString &path);

} // namespace SpeechTestSupport
