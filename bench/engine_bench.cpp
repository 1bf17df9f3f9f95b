// Times the office engine: one generation-style operation (start, open the letter template,
// replace the fourteen tags in every story and shape, save, quit) and one snapshot (start,
// open the saved letter, render its pages, quit). Prints the median of each piece over
// several runs.
//
//     engine_bench [runs]        (default 5)

#include "Fields.h"
#include "LibreOfficeFactory.h"

#include <QCoreApplication>
#include <QDir>
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

void Print(QTextStream& out, const QString& title, const Timings& timings, const QStringList& pieces)
{
    out << title << "\n";
    double total = 0;
    for (const QString& piece : pieces) {
        const double median = Median(timings.at(piece));
        total += median;
        out << QStringLiteral("  %1 %2 ms\n").arg(piece, -16).arg(median, 8, 'f', 1);
    }
    out << QStringLiteral("  %1 %2 ms (sum of the medians)\n").arg(QStringLiteral("total"), -16).arg(total, 8, 'f', 1);
}

}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    QTextStream out(stdout);
    QTemporaryDir folder;
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
            const QImage picture = Timed(snapshot, QStringLiteral("render"), [&] { return opened->Range()->CopyAsPicture(); });
            pages = picture.height() / 1056;
            Timed(snapshot, QStringLiteral("quit"), [&] {
                opened->Close(Word::wdDoNotSaveChanges);
                viewer->Quit();
            });
        }
    } catch (const std::exception& e) {
        out << "failed: " << e.what() << "\n";
        return 1;
    }

    out << QStringLiteral("Medians over %1 runs\n").arg(runs);
    Print(out, QStringLiteral("Engine operation (letter template):"), operation,
          {QStringLiteral("start/connect"), QStringLiteral("open"), QStringLiteral("replace 14 tags"), QStringLiteral("save"),
           QStringLiteral("quit")});
    Print(out, QStringLiteral("Snapshot (%1 pages):").arg(pages), snapshot,
          {QStringLiteral("start/connect"), QStringLiteral("open"), QStringLiteral("render"), QStringLiteral("quit")});
    return 0;
}
