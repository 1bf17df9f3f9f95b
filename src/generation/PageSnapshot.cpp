#include "PageSnapshot.h"

#include "PagePicture.h"
#include "WorkingFiles.h"
#include "core/AppError.h"
#include "core/GuardedProcedure.h"
#include "files/Paths.h"
#include "files/SafeFile.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

namespace {
// The snapshot's steps, numbered as its error report names them.
namespace SnapshotStep {
enum : int {
    StartWordProcessor = 116,
    OpenLetter = 118,
    RenderPages = 120,
    WritePicture = 122,
    CloseLetter = 124,
    QuitWordProcessor = 126,
};
}
}

Snapshot TakePageSnapshot(const QString& inFile, Word::ApplicationFactory& word, Dialogs& dialogs, std::stop_token ending)
{
    GuardedProcedure procedure(QLatin1String(SnapshotLocation), dialogs, std::move(ending));
    std::shared_ptr<Word::Application> application;
    std::shared_ptr<Word::Document> document;
    // The picture is kept here and written from here: whatever else is on the clipboard
    // (the user's own picture, when this rendering failed) never becomes the snapshot.
    QImage picture;
    QByteArray pdf;
    Snapshot written;

    procedure.Step(SnapshotStep::StartWordProcessor, [&] { application = word.CreateApplication(); });
    procedure.Step(SnapshotStep::OpenLetter, [&] { document = Use(Use(application).Documents()).Open(inFile); });
    procedure.Step(SnapshotStep::RenderPages, [&] {
        pdf = Use(Use(document).Range()).PagesAsPdf();
        picture = RenderPdfPages(pdf, PicturePageLimit, QLatin1String(PicturePageCountKey));
        if (QClipboard* clipboard = QGuiApplication::clipboard())
            clipboard->setImage(picture);
    });
    procedure.Step(SnapshotStep::WritePicture, [&] {
        const QString path = JoinPath(WorkingFolder(), QLatin1String(SnapshotFileName));
        if (picture.isNull()) {
            // A snapshot left by an earlier run shows another letter: it must not be
            // taken for this one. What is not the user's own file is left alone.
            if (OwnFileAt(path))
                DeleteFile(path);
            throw AppError(QStringLiteral("There is no picture of the document to save: rendering its pages failed."));
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!picture.save(&buffer, "BMP"))
            throw AppError(QStringLiteral("The picture of the document could not be encoded."));
        written.picture = WriteBytesToFile(bytes, path);
        written.pages = pdf;
    });
    procedure.Step(SnapshotStep::CloseLetter, [&] { Use(Use(application).ActiveDocument()).Close(Word::wdDoNotSaveChanges); });
    procedure.Step(SnapshotStep::QuitWordProcessor, [&] { Use(application).Quit(); });

    // A letter too long to show whole is still the whole letter; the user is told what the
    // preview leaves out.
    const int pageCount = picture.text(QLatin1String(PicturePageCountKey)).toInt();
    if (pageCount > PicturePageLimit)
        dialogs.ShowMessage(QStringLiteral("The letter has %1 pages; the preview shows the first %2.")
                                .arg(pageCount)
                                .arg(PicturePageLimit),
                            QLatin1String(ApplicationTitle));
    return written;
}
