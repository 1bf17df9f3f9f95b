#include "BatchRun.h"

#include "AppError.h"
#include "GenerationRun.h"
#include "GuardedProcedure.h"
#include "Leftovers.h"
#include "LetterFill.h"
#include "Paths.h"
#include "SafeFile.h"
#include "WordModel.h"

#include <QDir>
#include <QFile>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// A worker gives up after this many offices in a row failed to start.
constexpr int OfficeStartAttempts = 2;

// Where a failing step of the fill is said to be; nobody sees it, as the batch tells the
// description alone.
constexpr char FillLocation[] = "inkhaven-batch";

// Fills the letter as a generation run does, and makes it fit to be sent as it is: no
// paragraph of empty fields, the recipient and the date in place of the template's own
// fields. The first failing step of the fill ends it with its error.
QStringList FillLetter(const std::shared_ptr<Word::Document>& document, const FieldTexts& fields, const QDate& date,
                       EmptyParagraphRemover& emptyParagraphs)
{
    const auto text = [&fields](int field) { return fields[static_cast<std::size_t>(field)]; };
    emptyParagraphs.Remove(document, text);
    QString failure;
    GuardedProcedure run(QLatin1String(FillLocation), [&failure](const QString& description, int) {
        if (failure.isEmpty())
            failure = description;
    });
    const QStringList replacedIn = FillFields(run, document, text);
    if (run.FailureCount() > 0)
        throw AppError(failure);
    static const int recipientField = FieldOfColumn(QStringLiteral("RecipientName"));
    UnlinkTemplateFields(document, text(recipientField), date);
    return replacedIn;
}

QString ReplacedCharactersNote(const QStringList& replacedIn)
{
    if (replacedIn.isEmpty())
        return QString();
    return QStringLiteral("the text for %1 holds characters that a Word document cannot hold; the letter shows \"%2\" "
                          "in their place.")
        .arg(replacedIn.join(QStringLiteral(", ")), QChar(QChar::ReplacementCharacter));
}

// What every worker shares: the jobs still to begin, and the reports waiting for the caller.
class Queue {
public:
    Queue(const std::vector<LetterJob>& jobs, int workers) : mJobs(jobs), mRunning(workers) {}

    // The next job, or nothing when all have begun or stop is set.
    const LetterJob* Take(const std::atomic<bool>& stop)
    {
        const std::lock_guard lock(mMutex);
        if (stop || mNext >= mJobs.size())
            return nullptr;
        return &mJobs[mNext++];
    }

    void Report(LetterReport report)
    {
        {
            const std::lock_guard lock(mMutex);
            mReports.push_back(std::move(report));
        }
        mWake.notify_all();
    }

    void WorkerEnded()
    {
        {
            const std::lock_guard lock(mMutex);
            --mRunning;
        }
        mWake.notify_all();
    }

    // Hands every report to report as it comes, until every worker has ended.
    void Deliver(const std::function<void(const LetterReport&)>& report)
    {
        std::unique_lock lock(mMutex);
        for (;;) {
            mWake.wait(lock, [this] { return !mReports.empty() || mRunning == 0; });
            if (mReports.empty())
                return;
            const LetterReport next = std::move(mReports.front());
            mReports.pop_front();
            lock.unlock();
            report(next);
            lock.lock();
        }
    }

    int NotBegun() const
    {
        const std::lock_guard lock(mMutex);
        return static_cast<int>(mJobs.size() - mNext);
    }

private:
    const std::vector<LetterJob>& mJobs;
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    std::size_t mNext = 0;
    int mRunning;
    std::deque<LetterReport> mReports;
};

// Where the files of one letter go: made in the private folder, then placed in the output folder.
struct LetterFiles {
    QString workingDoc;
    QString workingPdf;
    QString doc;
    QString pdf;
};

// One office and the letters it makes, on the thread that owns it.
class LetterMaker {
public:
    LetterMaker(const BatchOptions& options, Word::ApplicationFactory& word, QString workFolder, QString templatePath)
        : mOptions(options), mWord(word), mWorkFolder(std::move(workFolder)), mTemplatePath(std::move(templatePath))
    {
    }
    ~LetterMaker() { EndOffice(); }
    LetterMaker(const LetterMaker&) = delete;
    LetterMaker& operator=(const LetterMaker&) = delete;

    LetterReport Make(const LetterJob& job)
    {
        const LetterFiles files = FilesOf(job);
        LetterReport report{job.letter.line, QFileInfo(files.doc).fileName(), LetterOutcome::Failed, QString()};
        if (!mOptions.force && (PathTaken(files.doc) || (mOptions.pdf && PathTaken(files.pdf)))) {
            report.outcome = LetterOutcome::Skipped;
            report.message = ExistsMessage(files);
            return report;
        }
        try {
            report.message = Fill(job, files);
            report.outcome = Place(files) ? LetterOutcome::Made : LetterOutcome::Skipped;
            if (report.outcome == LetterOutcome::Skipped)
                report.message = ExistsMessage(files);
        } catch (...) {
            report.message = DescribeException(std::current_exception());
        }
        QFile::remove(files.workingDoc);
        QFile::remove(files.workingPdf);
        if (mOptions.freshOfficePerLetter)
            EndOffice();
        return report;
    }

    // Whether the latest office start failed, and how many in a row did.
    int FailedStarts() const { return mFailedStarts; }

private:
    LetterFiles FilesOf(const LetterJob& job) const
    {
        const QString working = QStringLiteral("letter-%1").arg(job.letter.line);
        return {JoinPath(mWorkFolder, working + QStringLiteral(".doc")), JoinPath(mWorkFolder, working + QStringLiteral(".pdf")),
                JoinPath(mOptions.outputFolder, job.stem + QStringLiteral(".doc")),
                JoinPath(mOptions.outputFolder, job.stem + QStringLiteral(".pdf"))};
    }

    QString ExistsMessage(const LetterFiles& files) const
    {
        const QString taken = PathTaken(files.doc) || !mOptions.pdf ? files.doc : files.pdf;
        return QStringLiteral("\"%1\" exists already, so the line is skipped (--force replaces it).")
            .arg(QDir::toNativeSeparators(taken));
    }

    Word::Application& Office()
    {
        if (!mOffice) {
            try {
                mOffice = mWord.CreateApplication();
                mFailedStarts = 0;
            } catch (...) {
                ++mFailedStarts;
                throw;
            }
        }
        return *mOffice;
    }

    // Fills the template with the line's texts in the office and saves the letter in the
    // private folder; returns what the reader should know about the letter. An office
    // that failed on the way is ended: the next letter starts a fresh one.
    QString Fill(const LetterJob& job, const LetterFiles& files)
    {
        std::shared_ptr<Word::Document> document;
        try {
            document = Use(Office().Documents()).Open(mTemplatePath, true);
            const QStringList replacedIn = FillLetter(document, job.letter.fields, mOptions.date, mEmptyParagraphs);
            document->SaveAs(files.workingDoc);
            if (mOptions.pdf)
                document->ExportAsFixedFormat(files.workingPdf);
            document->Close();
            return ReplacedCharactersNote(replacedIn);
        } catch (...) {
            EndOffice();
            throw;
        }
    }

    // The PDF first: the Word file, the letter itself, shows only once all is in place.
    bool Place(const LetterFiles& files) const
    {
        if (mOptions.pdf && !PlaceCopy(files.workingPdf, files.pdf, mOptions.force))
            return false;
        return PlaceCopy(files.workingDoc, files.doc, mOptions.force);
    }

    void EndOffice()
    {
        if (!mOffice)
            return;
        try {
            mOffice->Quit();
        } catch (...) {
            // An office that is gone already has nothing left to end.
        }
        mOffice.reset();
    }

    const BatchOptions& mOptions;
    Word::ApplicationFactory& mWord;
    const QString mWorkFolder;
    const QString mTemplatePath;
    std::shared_ptr<Word::Application> mOffice;
    int mFailedStarts = 0;
    // Every letter of this office is opened from the same template.
    EmptyParagraphRemover mEmptyParagraphs;
};

void Work(Queue& queue, const BatchOptions& options, Word::ApplicationFactory& word, const QString& workFolder,
          const QString& templatePath, const std::atomic<bool>& stop)
{
    {
        LetterMaker maker(options, word, workFolder, templatePath);
        while (maker.FailedStarts() < OfficeStartAttempts) {
            const LetterJob* job = queue.Take(stop);
            if (!job)
                break;
            queue.Report(maker.Make(*job));
        }
    }
    // The office ended above, on the thread that started it.
    queue.WorkerEnded();
}
}

int MakeLetters(const std::vector<LetterJob>& jobs, const BatchOptions& options, Word::ApplicationFactory& word,
                const QByteArray& templateBytes, const std::atomic<bool>& stop,
                const std::function<void(const LetterReport&)>& report)
{
    // The office opens and writes files by path: they live in a folder only the user can enter.
    // A batch killed outright leaves it to the next start, which the journal tells.
    LeftoverFolder workFolder(JoinPath(TempFolder(), QStringLiteral("inkhaven-batch-XXXXXX")));
    if (!workFolder.isValid())
        throw AppError(QStringLiteral("No private working folder could be made in \"%1\": %2")
                           .arg(QDir::toNativeSeparators(TempFolder()), workFolder.errorString()));
    const QString templatePath = JoinPath(workFolder.path(), QLatin1String(TemplateCopyName));
    WriteBytesToFile(templateBytes, templatePath);

    const int workers = std::max(1, std::min(options.offices, static_cast<int>(jobs.size())));
    Queue queue(jobs, workers);
    std::vector<std::jthread> threads;
    for (int i = 0; i < workers; ++i)
        threads.emplace_back(Work, std::ref(queue), std::cref(options), std::ref(word), workFolder.path(),
                             templatePath, std::cref(stop));
    queue.Deliver(report);
    threads.clear();
    return queue.NotBegun();
}
