#include "PdfMerge.h"

#include "core/AppError.h"
#include "files/SafeFile.h"

#include <QDir>
#include <QFile>

#include <qpdf/ClosedFileInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <memory>

void MergePdfFiles(const std::vector<QString>& inputs, const QString& output)
{
    if (inputs.empty())
        throw AppError(QStringLiteral("The merged PDF \"%1\" would hold no page.").arg(QDir::toNativeSeparators(output)));
    // The first file is the one the others' pages are added to: it keeps what its document
    // says of itself (its title, its PDF/A metadata and colour profile, its structure for
    // screen readers).
    QPDF merged;
    merged.setSuppressWarnings(true);
    try {
        // Kept open while the merged file is written, which reads most of its objects.
        const QByteArray first = QFile::encodeName(inputs.front());
        merged.processFile(first.constData());
    } catch (const std::exception& e) {
        throw AppError(QStringLiteral("The PDF \"%1\" cannot be read: %2").arg(QDir::toNativeSeparators(inputs.front()), QString::fromLocal8Bit(e.what())));
    }
    QPDFPageDocumentHelper pages(merged);
    // The pages copied keep referring to their file until the merged file is written; a
    // closed input source opens its file only while it is read, so that a list of any
    // length stays within the process's open files.
    std::vector<std::unique_ptr<QPDF>> sources;
    for (const QString& input : std::vector<QString>(inputs.begin() + 1, inputs.end())) {
        try {
            auto source = std::make_unique<QPDF>();
            source->setSuppressWarnings(true);
            auto file = std::make_shared<ClosedFileInputSource>(QFile::encodeName(input).constData());
            // Open while its pages are read and copied, which reads it object by object;
            // closed again until the merged file is written.
            file->stayOpen(true);
            source->processInputSource(file);
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*source).getAllPages())
                pages.addPage(page, false);
            file->stayOpen(false);
            sources.push_back(std::move(source));
        } catch (const std::exception& e) {
            throw AppError(QStringLiteral("The PDF \"%1\" cannot be read: %2").arg(QDir::toNativeSeparators(input), QString::fromLocal8Bit(e.what())));
        }
    }
    try {
        // The writer keeps the name it is given until it has written: the name outlives it.
        const QByteArray outputName = QFile::encodeName(output);
        QPDFWriter writer(merged, outputName.constData());
        // Objects packed into compressed streams: the merged file of many letters is smaller.
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
    } catch (const std::exception& e) {
        QFile::remove(output);
        throw AppError(QStringLiteral("The merged PDF \"%1\" cannot be written: %2").arg(QDir::toNativeSeparators(output), QString::fromLocal8Bit(e.what())));
    }
}

namespace {
// Whether a font dictionary holds its glyphs: a Type 3 font draws them itself; any other
// has them in its descriptor's font file, a composite font in its descendant's.
bool FontHeld(QPDFObjectHandle font)
{
    if (font.getKey("/Subtype").isNameAndEquals("/Type3"))
        return true;
    if (font.getKey("/Subtype").isNameAndEquals("/Type0")) {
        QPDFObjectHandle descendants = font.getKey("/DescendantFonts");
        return descendants.isArray() && descendants.getArrayNItems() > 0 && FontHeld(descendants.getArrayItem(0));
    }
    QPDFObjectHandle descriptor = font.getKey("/FontDescriptor");
    return descriptor.isDictionary()
           && (descriptor.hasKey("/FontFile") || descriptor.hasKey("/FontFile2") || descriptor.hasKey("/FontFile3"));
}

// Where pages show a font without holding it: "page 2 shows the font Helvetica"; empty
// when every font is held.
QString FontNotHeld(const std::vector<QPDFPageObjectHelper>& pages)
{
    for (std::size_t i = 0; i < pages.size(); ++i) {
        QPDFObjectHandle resources = QPDFPageObjectHelper(pages[i]).getAttribute("/Resources", false);
        QPDFObjectHandle fonts = resources.isDictionary() ? resources.getKey("/Font") : QPDFObjectHandle::newNull();
        if (!fonts.isDictionary())
            continue;
        for (auto [name, font] : fonts.ditems()) {
            if (font.isDictionary() && !FontHeld(font))
                return QStringLiteral("page %1 shows the font %2")
                    .arg(i + 1)
                    .arg(QString::fromStdString(font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName() : name));
        }
    }
    return QString();
}
}

QString FontNotHeldIn(const QString& path)
{
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    try {
        pdf.processFile(QFile::encodeName(path).constData());
        return FontNotHeld(QPDFPageDocumentHelper(pdf).getAllPages());
    } catch (const std::exception& e) {
        throw AppError(QStringLiteral("The PDF \"%1\" cannot be read: %2").arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(e.what())));
    }
}

QByteArray ReadAppendedPdf(const QString& path, bool archive)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QByteArray bytes = ReadFileOnce(path, FileOwner::Anyone, AppendedPdfLimit);
    const auto refuse = [&](const QString& why) {
        return AppError(QStringLiteral("The PDF to append \"%1\" cannot be used: %2.").arg(shown, why));
    };
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    try {
        pdf.processMemoryFile(QFile::encodeName(path).constData(), bytes.constData(), static_cast<size_t>(bytes.size()));
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw refuse(QStringLiteral("it is encrypted with a password; append a copy saved without one"));
        throw refuse(QStringLiteral("it is no PDF that can be read (%1)").arg(QString::fromLocal8Bit(e.what())));
    } catch (const std::exception& e) {
        throw refuse(QStringLiteral("it is no PDF that can be read (%1)").arg(QString::fromLocal8Bit(e.what())));
    }
    if (pdf.isEncrypted())
        throw refuse(QStringLiteral("it is encrypted; append a copy saved without a password or restrictions"));
    try {
        const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
        if (pages.empty())
            throw refuse(QStringLiteral("it has no page"));
        if (archive) {
            if (const QString font = FontNotHeld(pages); !font.isEmpty())
                throw refuse(font + QStringLiteral(" without holding it, which no PDF/A may; save it with its fonts embedded"));
        }
    } catch (const AppError&) {
        throw;
    } catch (const std::exception& e) {
        throw refuse(QString::fromLocal8Bit(e.what()));
    }
    return bytes;
}
