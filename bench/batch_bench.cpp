// Times inkhaven-batch's run over a list of 50 lines: the offices kept for the whole list
// (the program's way, one office per core side by side), or a fresh office started for
// every letter (as many side by side). From the first office start to the last letter
// placed in the output folder; reports letters per second.
//
//     batch_bench resident|fresh [lines]        (default 50 lines)

#include "BatchRun.h"
#include "BenchSupport.h"
#include "CsvReader.h"
#include "LetterFill.h"
#include "LetterList.h"
#include "LibreOfficeFactory.h"
#include "Platform.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace {
QTextStream out(stdout);
QTextStream err(stderr);

// A list of every column, so that no value comes from the settings, with a different
// recipient on every line.
QString BenchList(int lines)
{
    QString text = QStringLiteral("YourName,YourTitle,StreetAddress,City,ST,ZIPCode,RecipientName,Title,CompanyName,"
                                  "StreetAddress2,City2,ST2,ZIPCode2\n");
    for (int i = 1; i <= lines; ++i)
        text += QStringLiteral("Tillowmark,Kestrelworks,1234 East Main Street,Boise,ID,91002,John Smith %1,Contractor,"
                               "\"Vavuraz Izerirez %1, Inc.\",123 Garage St,Hawthorne,CA,90250\n")
                    .arg(i);
    return text;
}
}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    IgnoreBrokenPipes();
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const int lines = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 50;
    if ((mode != QLatin1String("resident") && mode != QLatin1String("fresh")) || lines < 1) {
        err << "usage: batch_bench resident|fresh [lines]\n";
        return 2;
    }
    QTemporaryDir output;
    QFile letter(QStringLiteral(INKHAVEN_LETTER_TEMPLATE));
    if (!output.isValid() || !letter.open(QIODevice::ReadOnly)) {
        err << "no output folder or no letter template\n";
        return 1;
    }

    QSettingsStore settings;
    SystemClock clock;
    BatchOptions options;
    options.outputFolder = output.path();
    options.offices = QThread::idealThreadCount();
    options.freshOfficePerLetter = mode == QLatin1String("fresh");
    std::vector<LetterJob> jobs;
    for (const LetterLine& line : ReadLetterList(ParseCsv(BenchList(lines)), settings, LetterDate(clock)).lines)
        jobs.push_back({line, LetterFileStem(line, 3)});

    int made = 0;
    const std::atomic<bool> stop = false;
    QElapsedTimer timer;
    double seconds = 0;
    {
        LibreOfficeFactory office;
        timer.start();
        MakeLetters(jobs, options, office, letter.readAll(), stop, [&](const LetterReport& report) {
            if (report.outcome == LetterOutcome::Made)
                ++made;
            else
                err << "line " << report.line << ": " << report.message << "\n";
        });
        seconds = Bench::Ms(timer) / 1000;
    }
    if (made != lines) {
        err << made << " of " << lines << " letters made\n";
        return 1;
    }
    Bench::Report report(out);
    report.Add(QStringLiteral("letters per second"), lines / seconds);
    report.Add(QStringLiteral("seconds"), seconds);
    report.Add(QStringLiteral("offices side by side"), options.offices);
    return 0;
}
