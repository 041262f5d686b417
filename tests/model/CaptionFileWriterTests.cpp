#include "TranslateMac/AppModel/CaptionFileWriter.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace TranslateMac;

namespace {

// Lowers the largest file this process may write, as a file system without room would refuse
// the rest; the signal the kernel sends for it is ignored so the write fails with EFBIG instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved {};
    void (*m_handler)(int) = nullptr;
};

} // namespace

TEST(CaptionFileWriter, WritesTheWholeFileAndReplacesAnOldOne)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("字幕.srt");
    TestSupport::writeFile(path, "old content that is longer than the new one");
    EXPECT_EQ(writeExportFile(path, "1\n00:00:01,000 --> 00:00:02,000\n中文\n"), std::nullopt);
    EXPECT_EQ(TestSupport::contentOf(path), QByteArray("1\n00:00:01,000 --> 00:00:02,000\n中文\n"));
    EXPECT_EQ(TestSupport::folderEntries(folder.path()), QStringList { "字幕.srt" });
}

TEST(CaptionFileWriter, RefusesAnUnwritableFolderAndLeavesNothingBehind)
{
    QTemporaryDir folder;
    TestSupport::writeFile(folder.filePath("a-file"), "not a folder");
    QDir(folder.path()).mkdir("read-only");
    QFile::setPermissions(folder.filePath("read-only"), QFile::ReadOwner | QFile::ExeOwner);
    const QStringList before = TestSupport::folderEntries(folder.path());
    const struct {
        const char *name;
        QString path;
    } cases[] = {
        { "a folder that does not exist", folder.filePath("missing/export.vtt") },
        { "a file where the folder should be", folder.filePath("a-file/export.vtt") },
        { "a folder that is not writable", folder.filePath("read-only/export.vtt") },
    };
    for (const auto &c : cases) {
        // The superuser writes into read-only folders anyway.
        if (geteuid() == 0 && c.path.contains("read-only"))
            continue;
        const auto failure = writeExportFile(c.path, "WEBVTT\n");
        ASSERT_EQ(failure, ExportWriteFailure::unwritable) << c.name;
        EXPECT_EQ(exportWriteFailureText(*failure), "字幕未能保存，请检查目标文件夹权限。");
        EXPECT_FALSE(QFile::exists(c.path)) << c.name;
    }
    EXPECT_EQ(TestSupport::folderEntries(folder.path()), before);
    EXPECT_TRUE(TestSupport::folderEntries(folder.filePath("read-only")).isEmpty());
}

TEST(CaptionFileWriter, ReportsAFullDiskAndKeepsTheOldFile)
{
    QTemporaryDir folder;
    const QString fresh = folder.filePath("fresh.jsonl");
    const QString existing = folder.filePath("existing.jsonl");
    TestSupport::writeFile(existing, "old\n");
    const QByteArray large(1 << 20, 'x');
    std::optional<ExportWriteFailure> freshFailure, existingFailure;
    {
        const FileSizeLimit limit(64 * 1024);
        freshFailure = writeExportFile(fresh, large);
        existingFailure = writeExportFile(existing, large);
    }
    ASSERT_EQ(freshFailure, ExportWriteFailure::diskFull);
    EXPECT_EQ(existingFailure, ExportWriteFailure::diskFull);
    EXPECT_EQ(exportWriteFailureText(*freshFailure), "字幕未能保存，磁盘空间不足，请清理后重试。");
    EXPECT_FALSE(QFile::exists(fresh));
    EXPECT_EQ(TestSupport::contentOf(existing), QByteArray("old\n"));
    EXPECT_EQ(TestSupport::folderEntries(folder.path()), QStringList { "existing.jsonl" });
}
