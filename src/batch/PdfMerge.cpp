#include "PdfMerge.h"

#include "core/AppError.h"

#include <QDir>
#include <QFile>

#include <qpdf/ClosedFileInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <memory>

void MergePdfFiles(const std::vector<QString>& inputs, const QString& output)
{
    QPDF merged;
    merged.emptyPDF();
    merged.setSuppressWarnings(true);
    QPDFPageDocumentHelper pages(merged);
    // The pages copied keep referring to their file until the merged file is written; a
    // closed input source opens its file only while it is read, so that a list of any
    // length stays within the process's open files.
    std::vector<std::unique_ptr<QPDF>> sources;
    for (const QString& input : inputs) {
        try {
            auto source = std::make_unique<QPDF>();
            source->setSuppressWarnings(true);
            auto file = std::make_shared<ClosedFileInputSource>(QFile::encodeName(input).constData());
            source->processInputSource(file);
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*source).getAllPages())
                pages.addPage(page, false);
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
