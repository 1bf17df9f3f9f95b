#pragma once

#include "generation/Fields.h"
#include "generation/GenerationRun.h"

#include <QImage>
#include <QList>
#include <QStringList>

#include <functional>

// The windows as the generation run sees them: fields, pointer, template and the
// preview's surface. Records what the run did to them, in order, in journal.
class FakeGenerationHost : public GenerationHost {
public:
    QString ReadField(int index) const override { return fields[index]; }
    void WriteField(int index, const QString& text) override { fields[index] = text; }
    void SetMousePointer(PointerShape pointer) override
    {
        pointers << pointer;
        journal << QStringLiteral("pointer %1").arg(static_cast<int>(pointer));
    }
    QByteArray TemplateBytes() override
    {
        if (duringRun)
            duringRun();
        return templateBytes;
    }
    void SetPreviewPicture(const QImage& picture, const QByteArray& pages) override
    {
        previewPicture = picture;
        previewPages = pages;
        journal << QStringLiteral("picture");
    }
    void SetPreviewWordFile(const QString& path) override
    {
        wordFile = path;
        journal << QStringLiteral("word file");
    }
    void ShowPreview() override { journal << QStringLiteral("show preview"); }
    void HideDataEntryWindow() override { journal << QStringLiteral("hide"); }

    QString fields[FieldCount];
    QByteArray templateBytes = QByteArray("a template\0with a zero byte", 27);
    // Called when the run reads the template, early in the run.
    std::function<void()> duringRun;
    QList<PointerShape> pointers;
    QStringList journal;
    QImage previewPicture;
    QByteArray previewPages;
    QString wordFile;
};
