#include "HistoryFixture.h"

#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QSettings>
#include <QTest>

using namespace TranslateMac;
using namespace std::chrono_literals;

void HistoryTest::SetUp()
{
    ASSERT_TRUE(folder.isValid());
    qputenv("QUORVEL_REDUCE_MOTION", "1");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.filePath("config"));
    QSettings(QStringLiteral("Quorvel"), QStringLiteral("QuorvelTranslate")).clear();
    journal = CaptionJournal::open(folder.filePath("data/journal.sqlite3"));
}

void HistoryTest::TearDown()
{
    window.reset();
    journal.reset();
}

qint64 HistoryTest::record(qint64 minutesAgo, std::initializer_list<Caption> captions,
    std::optional<qint64> points, bool open, const QString &direction)
{
    static qint64 serviceId = 0;
    const qint64 started = eveningMs - minutesAgo * 60'000;
    const qint64 id = journal->beginSession({ ++serviceId, QStringLiteral("EN_ZH"), direction,
        QStringLiteral("全电脑播放音频"), started });
    qint64 sequence = 0;
    for (const Caption &caption : captions) {
        ++sequence;
        journal->append({ id, sequence, QString::fromUtf8(caption.source),
            QString::fromUtf8(caption.target), sequence * 4000, sequence * 4000 + 2500 });
    }
    if (!open)
        journal->endSession(id, started + qint64(captions.size()) * 4000 + 3000);
    if (points)
        journal->recordCharge(id, *points);
    settleJournal();
    return id;
}

void HistoryTest::settleJournal()
{
    EXPECT_TRUE(journal->flush(10s));
    // The journal announces what it wrote through the event loop.
    QApplication::processEvents();
    QApplication::processEvents();
}

HistoryWindow &HistoryTest::openWindow()
{
    TranscriptExport seams;
    seams.copy = [this](const QString &text) { copied << text; };
    seams.chooseSaveLocation = [this](const QString &name, TranscriptExport::Completion done) {
        proposedNames << name;
        saveCompletion = std::move(done);
    };
    window = std::make_unique<HistoryWindow>(journal.get(), seams);
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    TestSupport::spinUntil([&] { return window->isActiveWindow(); }, 2s);
    QApplication::processEvents();
    return *window;
}

void HistoryTest::clickItem(int row)
{
    QListWidget &list = window->list();
    QListWidgetItem *item = list.item(row);
    ASSERT_NE(item, nullptr) << row;
    list.scrollToItem(item);
    QTest::mouseClick(
        list.viewport(), Qt::LeftButton, Qt::NoModifier, list.visualItemRect(item).center());
    QApplication::processEvents();
}

void HistoryTest::answer(const QString &button)
{
    QMessageBox *box = window->confirmation();
    ASSERT_NE(box, nullptr) << "no confirmation asked";
    for (QAbstractButton *candidate : box->buttons()) {
        if (candidate->text() == button) {
            candidate->click();
            QApplication::processEvents();
            return;
        }
    }
    ADD_FAILURE() << "no button " << button.toStdString();
}
