#pragma once

#include "preview/PictureBox.h"
#include "preview/PreviewWindow.h"
#include "support/FakeDialogs.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <memory>

// A preview window with recording doubles around it.
struct PreviewFixture {
    PreviewFixture()
        : form(std::make_unique<PreviewWindow>(dialogs, std::stop_token{}, [this] { ++dataEntryShown; }))
    {
        form->SetExitAction([this] { ++exits; });
    }

    PictureBox& Page() const { return *form->findChild<PictureBox*>(QStringLiteral("page")); }
    PictureBox& ZoomSource() const { return *form->findChild<PictureBox*>(QStringLiteral("unscaledPage")); }
    QScrollBar& HBar() const { return *form->findChild<QScrollBar*>(QStringLiteral("horizontalScrollBar")); }
    QScrollBar& VBar() const { return *form->findChild<QScrollBar*>(QStringLiteral("verticalScrollBar")); }
    QPushButton& Button(const char* name) const { return *form->findChild<QPushButton*>(QLatin1String(name)); }

    FakeDialogs dialogs;
    int dataEntryShown = 0;
    int exits = 0;
    std::unique_ptr<PreviewWindow> form;
};

// A page whose left half is one colour and right half another, so that a repaint from
// the wrong picture shows.
inline QImage MakePage(int width, int height, QColor left = Qt::red, QColor right = Qt::blue)
{
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(right);
    QPainter painter(&page);
    painter.fillRect(0, 0, width / 2, height, left);
    return page;
}

inline void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
