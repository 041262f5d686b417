#include "CaptionFileWriter.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <cerrno>

namespace TranslateMac {

namespace {

bool isOutOfRoom(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// errno of the failed call is the precise answer; when Qt's clean-up has overwritten it, a file
// system with less room than the file needs tells the same.
ExportWriteFailure failureAfter(int error, const QString &path, qsizetype size)
{
    if (isOutOfRoom(error))
        return ExportWriteFailure::diskFull;
    const QStorageInfo storage(QFileInfo(path).absolutePath());
    if (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < size)
        return ExportWriteFailure::diskFull;
    return ExportWriteFailure::unwritable;
}

} // namespace

QString exportWriteFailureText(ExportWriteFailure failure)
{
    switch (failure) {
    case ExportWriteFailure::unwritable:
        return QStringLiteral("字幕未能保存，请检查目标文件夹权限。");
    case ExportWriteFailure::diskFull:
        return QStringLiteral("字幕未能保存，磁盘空间不足，请清理后重试。");
    }
    return {};
}

std::optional<ExportWriteFailure> writeExportFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Unbuffered, so that a write the file system refuses fails here with its own errno instead
    // of later inside commit's flush.
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failureAfter(errno, path, bytes.size());
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const int error = errno;
        file.cancelWriting();
        return failureAfter(error, path, bytes.size());
    }
    errno = 0;
    if (!file.commit())
        return failureAfter(errno, path, bytes.size());
    return std::nullopt;
}

} // namespace TranslateMac
