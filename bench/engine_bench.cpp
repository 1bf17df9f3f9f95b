// Times the office engine: one generation-style operation (start, open the letter template,
// replace the fourteen tags in every story and shape, save, quit) and one snapshot (start,
// open the saved letter, export its pages and render them, quit, and the round trip of the
// picture through "temp.bmp"). Prints the median of each piece over several runs, and the run's own work:
// every piece but the two office starts, which a prestarted office takes off the wait.
//
//     engine_bench [runs]        (default 5)

#include "files/SafeFile.h"
#include "generation/Fields.h"
#include "generation/PagePicture.h"
#include "office/LibreOfficeFactory.h"
#include "process/TerminationSignals.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <map>
#include <vector>

namespace {

using Timings = std::map<QString, std::vector<double>>;

// Runs step and records its duration in milliseconds under name.
template <class F>
auto Timed(Timings& timings, const QString& name, F&& step)
{
    QElapsedTimer timer;
    timer.start();
    if constexpr (std::is_void_v<decltype(step())>) {
        step();
        timings[name].push_back(timer.nsecsElapsed() / 1e6);
    } else {
        auto result = step();
        timings[name].push_back(timer.nsecsElapsed() / 1e6);
        return result;
    }
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void ReplaceTags(const std::shared_ptr<Word::Document>& document)
{
    for (int i = 0; i < FieldCount; ++i) {
        const auto stories = document->StoryRanges();
        for (int s = 0; s < stories->Count(); ++s) {
            const auto story = stories->Item(s);
            const auto find = story->Find();
            find->ClearFormatting();
            find->Replacement()->ClearFormatting();
            find->SetText(QLatin1String(FieldTags[i]));
            find->Replacement()->SetText(QStringLiteral("Value %1").arg(i));
            find->SetMatchCase(false);
            Word::ExecuteArguments arguments;
            arguments.Replace = Word::wdReplaceAll;
            find->Execute(arguments);
        }
    }
    const auto shapes = document->Shapes();
    for (int s = 0; s < shapes->Count(); ++s) {
        const auto frame = shapes->Item(s)->TextFrame();
        if (!frame->HasText())
            continue;
        for (int i = 0; i < FieldCount; ++i)
            frame->TextRange()->Find()->Execute(
                Word::ExecuteArguments{QLatin1String(FieldTags[i]), QStringLiteral("Value %1").arg(i), Word::wdReplaceAll});
    }
}

// The picture written as the snapshot writes it and loaded back as the run loads it.
QImage ThroughBmp(const QImage& picture, const QString& path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QFile file(path);
    if (!picture.save(&buffer, "BMP") || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("temp.bmp could not be written");
    file.close();
    QImage loaded;
    if (!loaded.load(path, "BMP"))
        throw std::runtime_error("temp.bmp could not be read");
    return loaded;
}

// Prints the pieces and their total; returns the total without the office start.
double Print(QTextStream& out, const QString& title, const Timings& timings, const QStringList& pieces)
{
    out << title << "\n";
    double total = 0;
    double work = 0;
    for (const QString& piece : pieces) {
        const double median = Median(timings.at(piece));
        total += median;
        if (piece != QLatin1String("start/connect"))
            work += median;
        out << QStringLiteral("  %1 %2 ms\n").arg(piece, -20).arg(median, 8, 'f', 1);
    }
    out << QStringLiteral("  %1 %2 ms (sum of the medians)\n").arg(QStringLiteral("total"), -20).arg(total, 8, 'f', 1);
    return work;
}

}

int main(int argc, char* argv[])
{
    // As in the application: a write to an office that has just ended fails as an error.
    IgnoreBrokenPipes();
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    QTextStream out(stdout);
    // In the private working folder, the one folder outside its own that the sandboxed office sees.
    QTemporaryDir folder(QDir(WorkingFolder()).filePath(QStringLiteral("engine_bench-XXXXXX")));
    const QString letter = QStringLiteral(INKHAVEN_LETTER_TEMPLATE);
    const QString saved = QDir(folder.path()).filePath(QStringLiteral("varnel12345678.doc"));
    LibreOfficeFactory word;
    Timings operation;
    Timings snapshot;
    int pages = 0;

    try {
        for (int run = 0; run < runs; ++run) {
            const auto office = Timed(operation, QStringLiteral("start/connect"), [&] { return word.CreateApplication(); });
            const auto document = Timed(operation, QStringLiteral("open"), [&] { return office->Documents()->Open(letter, true); });
            Timed(operation, QStringLiteral("replace 14 tags"), [&] { ReplaceTags(document); });
            Timed(operation, QStringLiteral("save"), [&] { document->SaveAs(saved); });
            Timed(operation, QStringLiteral("quit"), [&] {
                document->Close();
                office->Quit();
            });

            const auto viewer = Timed(snapshot, QStringLiteral("start/connect"), [&] { return word.CreateApplication(); });
            const auto opened = Timed(snapshot, QStringLiteral("open"), [&] { return viewer->Documents()->Open(saved); });
            const QImage picture = Timed(snapshot, QStringLiteral("render"), [&] {
                return RenderPdfPages(opened->Range()->PagesAsPdf(), PicturePageLimit, QLatin1String(PicturePageCountKey));
            });
            pages = picture.height() / 1056;
            Timed(snapshot, QStringLiteral("quit"), [&] {
                opened->Close(Word::wdDoNotSaveChanges);
                viewer->Quit();
            });
            Timed(snapshot, QStringLiteral("temp.bmp write/read"),
                  [&] { return ThroughBmp(picture, QDir(folder.path()).filePath(QStringLiteral("temp.bmp"))); });
        }
    } catch (const std::exception& e) {
        out << "failed: " << e.what() << "\n";
        return 1;
    }

    out << QStringLiteral("Medians over %1 runs\n").arg(runs);
    const double operationWork =
        Print(out, QStringLiteral("Engine operation (letter template):"), operation,
              {QStringLiteral("start/connect"), QStringLiteral("open"), QStringLiteral("replace 14 tags"), QStringLiteral("save"),
               QStringLiteral("quit")});
    const double snapshotWork =
        Print(out, QStringLiteral("Snapshot (%1 pages):").arg(pages), snapshot,
              {QStringLiteral("start/connect"), QStringLiteral("open"), QStringLiteral("render"), QStringLiteral("quit"),
               QStringLiteral("temp.bmp write/read")});
    out << "Run's own work (every piece but the office starts):\n"
        << QStringLiteral("  %1 %2 ms (sum of the medians)\n").arg(QStringLiteral("total"), -20).arg(operationWork + snapshotWork, 8, 'f', 1);
    return 0;
}
