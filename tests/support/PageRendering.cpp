#include "PageRendering.h"

#include <poppler-qt6.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {
constexpr double DotsPerInch = 96.0;
// A pixel differs when its grey levels are further apart than this, and is printed when
// it is darker than PrintedBelow: antialiased edges may differ a little, text may not.
constexpr int GreyTolerance = 64;
constexpr int PrintedBelow = 192;
// The share of the reference's printed pixels that may differ: the two renderings of the
// same pages agree to the pixel, while one changed word already differs in more.
constexpr double DifferingShare = 0.001;

// The office program itself rather than the launcher script, which would start it as a
// grandchild that could outlive a killed test.
QString OfficeProgram()
{
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (launcher.isEmpty())
        return {};
    const QFileInfo program(QFileInfo(QFileInfo(launcher).canonicalFilePath()).dir(), QStringLiteral("soffice.bin"));
    return program.exists() ? program.filePath() : launcher;
}

QImage StackPages(const Poppler::Document& pdf, double dotsPerInch, int pageLimit)
{
    std::vector<QImage> pages;
    int width = 0;
    int height = 0;
    for (int i = 0; i < std::min(pdf.numPages(), pageLimit); ++i) {
        const std::unique_ptr<Poppler::Page> page = pdf.page(i);
        pages.push_back(page ? page->renderToImage(dotsPerInch, dotsPerInch) : QImage());
        if (pages.back().isNull())
            return {};
        width = std::max(width, pages.back().width());
        height += pages.back().height();
    }
    QImage sheet(width, height, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int top = 0;
    for (const QImage& page : pages) {
        painter.drawImage(0, top, page);
        top += page.height();
    }
    return sheet;
}
}

QString ConvertToPdf(const QString& document, const QString& folder)
{
    const QString program = OfficeProgram();
    const QString temp = QDir(folder).filePath(QStringLiteral("tmp"));
    if (program.isEmpty() || !QDir().mkpath(temp))
        return QStringLiteral("<conversion failed: no office, or no folder for its files>");
    const QString profile = QDir(folder).filePath(QStringLiteral("profile"));
    const QStringList arguments = {QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                                   QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
                                   QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"),
                                   folder, document};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temp);
    // On a fresh profile the office sets it up and exits with 81, asking to be started
    // again (the launcher script would do that); the second run converts.
    constexpr int RestartRequested = 81;
    QProcess office;
    office.setProcessEnvironment(environment);
    for (int attempt = 0; attempt < 2; ++attempt) {
        office.start(program, arguments);
        if (!office.waitForFinished(120000)) {
            office.kill();
            office.waitForFinished();
            return QStringLiteral("<conversion failed: the office did not finish>");
        }
        if (office.exitStatus() != QProcess::NormalExit || office.exitCode() != RestartRequested)
            break;
    }
    const QString pdf = QDir(folder).filePath(QFileInfo(document).completeBaseName() + QStringLiteral(".pdf"));
    if (office.exitStatus() != QProcess::NormalExit || office.exitCode() != 0 || !QFileInfo::exists(pdf))
        return QStringLiteral("<conversion failed: %1>").arg(QString::fromLocal8Bit(office.readAllStandardError()));
    return pdf;
}

QImage ReferencePages(const QString& document, int pageLimit, int* pageCount)
{
    const QTemporaryDir folder;
    QFile pdf(ConvertToPdf(document, folder.path()));
    return pdf.open(QIODevice::ReadOnly) ? RenderPdf(pdf.readAll(), DotsPerInch, pageLimit, pageCount) : QImage();
}

QImage RenderPdf(const QByteArray& data, double dotsPerInch, int pageLimit, int* pageCount)
{
    const std::unique_ptr<Poppler::Document> pdf = Poppler::Document::loadFromData(data);
    if (!pdf || pdf->isLocked())
        return {};
    if (pageCount)
        *pageCount = pdf->numPages();
    pdf->setRenderHint(Poppler::Document::Antialiasing);
    pdf->setRenderHint(Poppler::Document::TextAntialiasing);
    return StackPages(*pdf, dotsPerInch, pageLimit);
}

QString DifferenceFromDocument(const QImage& shown, const QString& document, int pageLimit, int* pageCount)
{
    const QImage reference = ReferencePages(document, pageLimit, pageCount).convertToFormat(QImage::Format_Grayscale8);
    if (reference.isNull())
        return QStringLiteral("no reference rendering of \"%1\"").arg(document);
    if (shown.size() != reference.size())
        return QStringLiteral("the picture is %1x%2, the document's pages %3x%4")
            .arg(shown.width()).arg(shown.height()).arg(reference.width()).arg(reference.height());
    const QImage picture = shown.convertToFormat(QImage::Format_Grayscale8);
    qint64 printed = 0;
    qint64 differing = 0;
    for (int y = 0; y < reference.height(); ++y) {
        const uchar* expected = reference.constScanLine(y);
        const uchar* actual = picture.constScanLine(y);
        for (int x = 0; x < reference.width(); ++x) {
            printed += expected[x] < PrintedBelow;
            differing += std::abs(int(expected[x]) - int(actual[x])) > GreyTolerance;
        }
    }
    if (printed == 0)
        return QStringLiteral("the document's pages are blank");
    if (static_cast<double>(differing) > DifferingShare * static_cast<double>(printed))
        return QStringLiteral("%1 pixels differ from the document's pages, which print %2").arg(differing).arg(printed);
    return {};
}

QByteArray LetterPdf(int count, const std::function<void(QPainter& painter, int page)>& paint)
{
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QPageSize::Letter));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    for (int page = 0; page < count; ++page) {
        if (page > 0)
            writer.newPage();
        paint(painter, page);
    }
    painter.end();
    return pdf;
}
