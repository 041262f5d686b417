#include "TranscriptExport.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>

namespace TranslateMac {

TranscriptExport TranscriptExport::desktop()
{
    TranscriptExport seams;
    seams.copy = [](const QString &text) {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(text);
    };
    seams.chooseSaveLocation = [](const QString &proposedName, Completion completion) {
        auto *dialog = new QFileDialog(nullptr);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // The proposed name's type is the one offered (plain text, or a subtitle or data file).
        const QString suffix = QFileInfo(proposedName).suffix().toLower();
        if (suffix.isEmpty() || suffix == QLatin1String("txt")) {
            dialog->setMimeTypeFilters({ QStringLiteral("text/plain") });
            dialog->setDefaultSuffix(QStringLiteral("txt"));
        } else {
            dialog->setNameFilter(QStringLiteral("%1 (*.%2)").arg(suffix.toUpper(), suffix));
            dialog->setDefaultSuffix(suffix);
        }
        dialog->selectFile(proposedName);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        // One answer per dialog: a chosen file, or nothing when it closes without one.
        auto answered = std::make_shared<bool>(false);
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
            [completion, answered](const QString &path) {
                if (!std::exchange(*answered, true))
                    completion(path.isEmpty() ? std::nullopt : std::optional<QString>(path));
            });
        QObject::connect(dialog, &QDialog::rejected, dialog, [completion, answered] {
            if (!std::exchange(*answered, true))
                completion(std::nullopt);
        });
        dialog->open();
    };
    return seams;
}

bool writeTextAtomically(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace TranslateMac
