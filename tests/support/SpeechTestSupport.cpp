#include "support/SpeechTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtEndian>

namespace SpeechTestSupport {

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

} // namespace

bool synthesise(const QString &text, const QString &wavPath)
{
    const QString raw = wavPath + QStringLiteral(".espeak.wav");
    const bool made
        = run(QStringLiteral("espeak-ng"),
              { QStringLiteral("-v"), QStringLiteral("en-us"), QStringLiteral("-w"), raw, text })
        && run(QStringLiteral("sox"),
            { raw, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
                QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), wavPath });
    QFile::remove(raw);
    return made;
}

QByteArray wavSamples(const QString &wavPath)
{
    QFile file(wavPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return {};
    // Walks the chunks to "data"; "fmt " must say 16-bit PCM.
    bool pcm16 = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
            pcm16 = qFromLittleEndian<quint16>(bytes.constData() + body) == 1
                && qFromLittleEndian<quint16>(bytes.constData() + body + 14) == 16;
        } else if (id == "data") {
            return pcm16 ? bytes.mid(body, qMin<qsizetype>(size, bytes.size() - body))
                         : QByteArray();
        }
        at = body + size + (size % 2);
    }
    return {};
}

QByteArray spoken(const QString &text, const QString &folder)
{
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QString path = QDir(folder).filePath(name + QStringLiteral(".wav"));
    return synthesise(text, path) ? wavSamples(path) : QByteArray();
}

QByteArray silence(int milliseconds)
{
    return QByteArray(qsizetype(milliseconds) * 32, '\0');
}

bool writeGrammar(const QStringList &sentences, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QString grammar = QStringLiteral("#JSGF V1.0;\ngrammar sentences;\npublic <sentence> = ")
        + sentences.join(QStringLiteral(" | ")) + QStringLiteral(";\n");
    return file.write(grammar.toUtf8()) > 0;
}

} // namespace SpeechTestSupport
