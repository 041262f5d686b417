#include "TranslateMac/Journal/JournalFailure.h"

#include <sqlite3.h>

namespace TranslateMac {

JournalFailure::JournalFailure(Case c, qint32 resultCode)
    : m_case(c), m_resultCode(resultCode), m_what(errorDescription().toStdString())
{
}

JournalFailure JournalFailure::database(qint32 resultCode)
{
    const int primary = resultCode & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        return JournalFailure(Case::corrupt, resultCode);
    return JournalFailure(Case::database, resultCode);
}

QString JournalFailure::errorDescription() const
{
    switch (m_case) {
    case Case::corrupt:
        return QStringLiteral("本机字幕记录已损坏，无法打开。记录文件保持原样，翻译可照常进行。");
    case Case::unsupportedSchema:
        return QStringLiteral(
            "本机字幕记录由更新版本的应用创建，无法打开。记录文件保持原样，翻译可照常进行。");
    case Case::queueFull:
        return QStringLiteral("本机字幕记录写入过慢，部分字幕未能保存。");
    case Case::unavailable:
    case Case::database:
        break;
    }
    return QStringLiteral("暂时无法使用本机字幕记录，翻译可照常进行。");
}

} // namespace TranslateMac
