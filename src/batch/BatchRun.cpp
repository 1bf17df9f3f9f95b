#include "BatchRun.h"

#include "ConditionalText.h"
#include "PdfMerge.h"
#include "UserTemplate.h"
#include "core/AppError.h"
#include "core/GuardedProcedure.h"
#include "core/Platform.h"
#include "files/Leftovers.h"
#include "files/Paths.h"
#include "files/SafeFile.h"
#include "generation/LetterFill.h"
#include "generation/WordModel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUrl>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include <sys/stat.h>

namespace {

// A worker gives up after this many offices in a row failed to start.
constexpr int OfficeStartAttempts = 2;

// An office keeps at most this many templates open: one for each set of outcomes of the
// conditions of a template's conditional texts, the one used longest ago closed first.
constexpr std::size_t MostOpenTemplates = 8;

// An open template is closed and opened again after this many letters: each letter taken
// back from it leaves the next a little slower (over 3000 letters, 52 ms a letter became 67-79
// ms; reopened every 500, it stayed at 45-56 ms).
constexpr int LettersPerOpening = 500;
// A template whose table rows repeat for line items is opened again sooner: each letter whose
// rows were added and taken back leaves the office's tables slower (100 quotes of 10 items
// took 14 s, 300 took 61 s, from one opening).
constexpr int LettersPerOpeningWithItems = 40;

// An office is ended and a fresh one started after this many letters: whatever becomes of
// its templates, it holds about 15 MB more for every 1000 letters it makes.
constexpr int LettersPerOffice = 2000;

// Where a failing step of the fill is said to be; nobody sees it, as the batch tells the
// description alone.
constexpr char FillLocation[] = "inkhaven-batch";

// Fills the letter: a template of the user's tag by tag; the built-in letter as a
// generation run does; either made fit to be sent as it is: no paragraph of empty tags
// (unless emptyParagraphs is none), no separator left beside an empty tag, the recipient
// and the date in place of the built-in template's own fields. A failing step of the tag fill
// does not stop the steps after it (the guarded procedure carries on, as the window's run
// does); the letter then fails with the first failure's description, before its fields are
// unlinked, and is never saved.
QStringList FillLetter(const std::shared_ptr<Word::Document>& document, const LetterLine& letter, const BatchOptions& options,
                       EmptyParagraphRemover* emptyParagraphs, TemplateFieldUnlinker& fields, const LineTags* tags,
                       std::stop_token ending)
{
    const auto text = [&letter](int field) { return letter.fields[static_cast<std::size_t>(field)]; };
    const std::vector<TagText> tagTexts = tags ? tags->texts(letter) : TagsOfFields(text);
    const bool removed = emptyParagraphs && emptyParagraphs->Remove(document, tagTexts);
    QString failure;
    GuardedProcedure run(QLatin1String(FillLocation), [&failure](const QString& description, int) {
        if (failure.isEmpty())
            failure = description;
    }, std::move(ending));
    // The rows of the items first: an item's text wins over the list's inside them.
    QStringList itemsReplacedIn;
    const std::vector<ShelteredText> sheltered =
        tags && !tags->itemRows.empty() ? FillItemRows(Use(document), tags->itemRows, tags->items(letter), itemsReplacedIn)
                                        : std::vector<ShelteredText>();
    QStringList replacedIn = tags ? FillTags(run, document, tagTexts, EmptySeparators::Removed)
                                  : FillFields(run, document, text, EmptySeparators::Removed);
    if (run.FailureCount() > 0)
        throw AppError(failure);
    PutBack(Use(document), sheltered);
    for (const QString& tag : itemsReplacedIn) {
        if (!replacedIn.contains(tag))
            replacedIn << tag;
    }
    static const int recipientField = FieldNamed(QStringLiteral("RecipientName"));
    if (tags)
        fields.UnlinkTagButtons(document, !removed, tagTexts);
    else
        fields.UnlinkLetterFields(document, !removed, text(recipientField), options.date, options.dateFormat, options.language);
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

// What every worker shares: the jobs still to begin, the reports waiting for the caller,
// and, for a template of the user's, whether it was accepted.
class Queue {
public:
    Queue(const std::vector<LetterJob>& jobs, int workers, bool ownTemplate)
        : mJobs(jobs), mRunning(workers), mTemplate(ownTemplate ? Template::Reading : Template::Accepted)
    {
    }

    // The index of the next job, or nothing when all have begun or stop is requested.
    std::optional<std::size_t> Take(const std::stop_token& stop)
    {
        const std::lock_guard lock(mMutex);
        if (stop.stop_requested() || mAborted || mNext >= mJobs.size())
            return std::nullopt;
        return mNext++;
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

    // The template of the user's has been read: letters may begin, with what each one's tags take.
    void Accept(LineTags tags)
    {
        {
            const std::lock_guard lock(mMutex);
            mTags = std::move(tags);
            mTemplate = Template::Accepted;
        }
        mWake.notify_all();
    }

    // The template of the user's cannot be used; no letter begins.
    void Refuse(std::exception_ptr why)
    {
        {
            const std::lock_guard lock(mMutex);
            mRefusal = std::move(why);
            mTemplate = Template::Refused;
        }
        mWake.notify_all();
    }

    // The run cannot go on: no further letter begins, and Deliver rethrows why once the
    // letters under way are told.
    void Abort(std::exception_ptr why)
    {
        {
            const std::lock_guard lock(mMutex);
            if (!mRefusal)
                mRefusal = std::move(why);
            mAborted = true;
        }
        mWake.notify_all();
    }

    // Waits until the template is accepted or refused; what the tags take (nullptr for the
    // embedded letter), or nothing when it was refused.
    std::optional<const LineTags*> WaitForTemplate()
    {
        std::unique_lock lock(mMutex);
        mWake.wait(lock, [this] { return mTemplate != Template::Reading; });
        if (mTemplate == Template::Refused)
            return std::nullopt;
        return mTags.texts ? &mTags : nullptr;
    }

    // Calls begin once the template is accepted, then hands every report to report as it
    // comes, until every worker has ended; rethrows why a template was refused or the run
    // was aborted.
    void Deliver(const std::function<void()>& begin, const std::function<void(const LetterReport&)>& report)
    {
        std::unique_lock lock(mMutex);
        mWake.wait(lock, [this] { return mTemplate != Template::Reading || mRunning == 0; });
        if (mTemplate == Template::Accepted && begin) {
            lock.unlock();
            begin();
            lock.lock();
        }
        for (;;) {
            mWake.wait(lock, [this] { return !mReports.empty() || mRunning == 0; });
            if (mReports.empty())
                break;
            const LetterReport next = std::move(mReports.front());
            mReports.pop_front();
            lock.unlock();
            report(next);
            lock.lock();
        }
        if (mRefusal)
            std::rethrow_exception(mRefusal);
    }

    int NotBegun() const
    {
        const std::lock_guard lock(mMutex);
        return static_cast<int>(mJobs.size() - mNext);
    }

private:
    enum class Template { Reading, Accepted, Refused };

    const std::vector<LetterJob>& mJobs;
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    std::size_t mNext = 0;
    int mRunning;
    std::deque<LetterReport> mReports;
    Template mTemplate;
    LineTags mTags;
    std::exception_ptr mRefusal;
    bool mAborted = false;
};

// One file of a letter: made in the private folder, then placed in the output folder.
struct LetterFile {
    LetterFormat format;
    QString working;
    QString placed;
};

// The files of one letter, and the PDF kept for the merged file when no PDF is placed.
struct LetterFiles {
    std::vector<LetterFile> files;
    QString mergeOnlyPdf;
};

// What the run shares with every office: its options, the private folder and the template there.
struct RunSetup {
    const BatchOptions& options;
    Word::ApplicationFactory& word;
    QString workFolder;
    // Which folder workFolder was as the run began: another program may remove or rename it.
    FileIdentity workFolderIdentity;
    QString templatePath;
    // The copies of the PDFs to append, in workFolder.
    std::vector<QString> appended;
    // The batch's ending: once stop is requested the offices are being killed, and a letter's
    // fill runs no further step.
    std::stop_token ending;
    // How often an office put its open template aside after a letter that failed or did not
    // leave it as it was.
    std::atomic<int>& reopened;
};

// How a working copy of a template made in the office is saved: a Word file as one of its
// kind, any other as OpenDocument text (a flat or template file cannot be written as such).
struct TemplateCopyFormat {
    QString extension;
    int fileFormat;
};
TemplateCopyFormat CopyFormatOf(const QString& templateName)
{
    const QString extension = QFileInfo(templateName).suffix();
    if (extension == QLatin1String("doc") || extension == QLatin1String("dot"))
        return {QStringLiteral("doc"), Word::wdFormatDocument97};
    if (extension == QLatin1String("docx") || extension == QLatin1String("dotx"))
        return {QStringLiteral("docx"), Word::wdFormatXMLDocument};
    return {QStringLiteral("odt"), Word::wdFormatOpenDocumentText};
}

// Ends an office, whatever state it is in.
void Quit(Word::Application& office)
{
    try {
        office.Quit();
    } catch (const AppError&) {
        // An office that is gone already has nothing left to end; its failure was told
        // with the letter that met it.
    }
}

// A template open in the office, which letter after letter is made from and taken back from.
struct KeptTemplate {
    std::shared_ptr<Word::Document> document;
    // What it holds as it was opened (see Fingerprint).
    QString fingerprint;
    // Its paragraphs and its fields, read for the first letter.
    EmptyParagraphRemover emptyParagraphs;
    TemplateFieldUnlinker fields;
    // How many letters were made from it.
    int letters = 0;
    // When a letter last started from it (LetterMaker::mUses).
    quint64 lastUse = 0;
};

// What a document holds, in short: the words, paragraphs and characters of its main text,
// and the whole text of its other stories and of every shape with text. Reading the main text
// whole takes longer than making a letter; a letter taken back leaves its template with the
// same fingerprint.
QString Fingerprint(Word::Document& document)
{
    QString text = QStringLiteral("%1 %2 %3")
                       .arg(document.ComputeStatistics(Word::wdStatisticWords))
                       .arg(document.ComputeStatistics(Word::wdStatisticParagraphs))
                       .arg(document.ComputeStatistics(Word::wdStatisticCharactersWithSpaces));
    for (const DocumentText& part : DocumentTexts(document)) {
        if (part.shape || part.number > 1)
            text += QChar(QChar::ParagraphSeparator) + Use(part.range).Text();
    }
    return text;
}

// One office and the letters it makes, on the thread that owns it.
class LetterMaker {
public:
    explicit LetterMaker(const RunSetup& run) : mRun(run), mOptions(run.options) {}
    ~LetterMaker() { EndOffice(); }
    LetterMaker(const LetterMaker&) = delete;
    LetterMaker& operator=(const LetterMaker&) = delete;

    // Starts the office ahead of the first letter; a failed start is counted and left for
    // the first letter to try again.
    void StartOffice()
    {
        try {
            Office();
        } catch (const AppError&) {
            // Counted in mFailedStarts; the first letter starts the office again.
        }
    }

    // The bracketed tags of the template: in every story, then in the text of every shape.
    // shownPath is the template's name in messages.
    // With items, itemRows learns the rows that repeat for them.
    QStringList ReadTags(const LetterTemplate& letterTemplate, std::vector<ItemRowPlace>& itemRows)
    {
        const QString& shownPath = letterTemplate.path;
        const std::function<bool(const QString&)>& knows = letterTemplate.knows;
        try {
            const std::shared_ptr<Word::Document> document = OpenTemplate(shownPath);
            RefuseLinks(*document, shownPath);
            if (mOptions.archivePart > 0)
                RefuseUnarchivable(*document, shownPath);
            const QString text = CheckedText(document, QStringLiteral("template \"%1\"").arg(QDir::toNativeSeparators(shownPath)), knows);
            // Tags in an embedded object would reach no letter filled: they are refused.
            for (const auto& [object, objectText] : document->EmbeddedObjectTexts()) {
                if (const QStringList tags = FindTags(objectText); !tags.isEmpty())
                    throw AppError(QStringLiteral("The template \"%1\" has %2 inside the embedded object \"%3\", where no letter "
                                                  "fills them. Write them in the template's own text, or take them out of the object.")
                                       .arg(QDir::toNativeSeparators(shownPath), tags.join(QStringLiteral(", ")), object));
            }
            if (letterTemplate.itemTag)
                itemRows = FindItemRows(*document, letterTemplate.itemTag, letterTemplate.onlyItemTag, shownPath);
            document->Close(Word::wdDoNotSaveChanges);
            return FindTags(text);
        } catch (...) {
            EndOffice();
            throw;
        }
    }

    // Makes the letter of job; tags is what a template of the user's takes, or nullptr.
    // mergePdf is set to the letter's PDF when it is kept for the merged file.
    LetterReport Make(const LetterJob& job, const LineTags* tags, QString& mergePdf)
    {
        const LetterFiles files = FilesOf(job);
        LetterReport report{job.letter.row, QFileInfo(files.files.front().placed).fileName(), LetterOutcome::Failed, QString()};
        if (const QString taken = Taken(files); !mOptions.force && !taken.isEmpty()) {
            report.outcome = AllThere(files) ? LetterOutcome::AlreadyThere : LetterOutcome::Skipped;
            report.message = ExistsMessage(taken);
            return report;
        }
        try {
            report.message = FillOnceMore(job, files, tags);
            std::vector<FileCopy> copies;
            for (const LetterFile& file : files.files)
                copies.push_back({file.working, file.placed});
            if (PlaceCopies(copies, mOptions.force)) {
                report.outcome = LetterOutcome::Made;
                if (!mOptions.merged.isEmpty())
                    mergePdf = PdfOf(files);
            } else {
                report.outcome = AllThere(files) ? LetterOutcome::AlreadyThere : LetterOutcome::Skipped;
                report.message = ExistsMessage(Taken(files));
            }
        } catch (...) {
            report.message = DescribeException(std::current_exception());
        }
        // The PDF kept for the merged file stays until the run's folder goes.
        for (const LetterFile& file : files.files) {
            if (file.working != mergePdf)
                QFile::remove(file.working);
        }
        if (!files.mergeOnlyPdf.isEmpty() && files.mergeOnlyPdf != mergePdf)
            QFile::remove(files.mergeOnlyPdf);
        if (mOptions.freshOfficePerLetter || ++mLettersOfOffice >= LettersPerOffice)
            EndOffice();
        return report;
    }

    // Whether the latest office start failed, and how many in a row did.
    int FailedStarts() const { return mFailedStarts; }

private:
    // The template, opened in the office; a failure is told under the name the user gave
    // it, shownPath, not the working copy's.
    std::shared_ptr<Word::Document> OpenTemplate(const QString& shownPath)
    {
        try {
            return Use(Office().Documents()).Open(mRun.templatePath, true);
        } catch (const AppError& error) {
            QString description = error.Description();
            description.replace(QStringLiteral("The document \"%1\"").arg(QDir::toNativeSeparators(mRun.templatePath)),
                                QStringLiteral("The template \"%1\"").arg(QDir::toNativeSeparators(shownPath)));
            throw AppError(description);
        }
    }

    // Refuses a template whose PDF/A would show a font it cannot hold (one whose licence
    // forbids embedding, or one the office has no file of), found in a trial export.
    void RefuseUnarchivable(Word::Document& document, const QString& shownPath) const
    {
        const QString trial = JoinPath(mRun.workFolder, QStringLiteral("archivable.pdf"));
        const auto removeTrial = qScopeGuard([&] { QFile::remove(trial); });
        Word::FixedFormatOptions pdf;
        pdf.archivePart = mOptions.archivePart;
        document.ExportAsFixedFormat(trial, pdf);
        if (const QString font = FontNotHeldIn(trial); !font.isEmpty())
            throw AppError(QStringLiteral("The template \"%1\" cannot make PDF/A letters: its PDF's %2 without holding it. "
                                          "Use fonts that may be embedded.")
                               .arg(QDir::toNativeSeparators(shownPath), font));
    }

    // Refuses a template that still takes anything from outside itself, as the office finds
    // it once it is open: the check of its file reads not every format's every kind of
    // link (a Word 97-2003 file's linked pictures, for one). shownPath is its name in messages.
    static void RefuseLinks(Word::Document& document, const QString& shownPath)
    {
        QStringList links = document.OtherLinks();
        for (const QString& picture : document.LinkedPictures())
            links << QStringLiteral("a picture linked to \"%1\"").arg(picture);
        if (!links.isEmpty())
            throw OutsideLinks(shownPath, links);
    }

    // The text of every story of the document, then of every shape that holds text; each
    // checked for conditional texts out of place or on names it does not know, which are
    // refused naming where they are in the template named shown.
    static QString CheckedText(const std::shared_ptr<Word::Document>& document, const QString& shown,
                                const std::function<bool(const QString&)>& knows)
    {
        QString text;
        for (const DocumentText& part : DocumentTexts(Use(document))) {
            const QString partText = Use(part.range).Text();
            CheckConditionalTexts(partText, PlaceOf(part, shown), knows);
            text += partText;
        }
        return text;
    }

    LetterFiles FilesOf(const LetterJob& job) const
    {
        const QString working = JoinPath(mRun.workFolder, QStringLiteral("letter-%1.").arg(job.letter.row));
        LetterFiles files;
        bool pdf = false;
        const QStringList placed = LetterFilePaths(job, mOptions);
        for (std::size_t i = 0; i < mOptions.formats.size(); ++i) {
            const LetterFormat format = mOptions.formats[i];
            files.files.push_back({format, working + FormatExtension(format), placed[static_cast<qsizetype>(i)]});
            pdf = pdf || format == LetterFormat::Pdf;
        }
        if (!mOptions.merged.isEmpty() && !pdf)
            files.mergeOnlyPdf = working + QStringLiteral("merge.pdf");
        return files;
    }

    // The first of the letter's files that something stands at already, or nothing.
    static QString Taken(const LetterFiles& files)
    {
        for (const LetterFile& file : files.files) {
            if (PathTaken(file.placed))
                return file.placed;
        }
        return QString();
    }

    // Whether every one of the letter's files stands as a regular file, as a run places them.
    static bool AllThere(const LetterFiles& files)
    {
        return std::all_of(files.files.begin(), files.files.end(), [](const LetterFile& file) {
            struct stat info {};
            return ::lstat(QFile::encodeName(file.placed).constData(), &info) == 0 && S_ISREG(info.st_mode);
        });
    }

    static QString ExistsMessage(const QString& taken)
    {
        return QStringLiteral("\"%1\" exists already, so the line is skipped (--force replaces it).")
            .arg(QDir::toNativeSeparators(taken));
    }

    // The letter's PDF in the private folder: the one placed with it, or the one made for the
    // merged file alone.
    static QString PdfOf(const LetterFiles& files)
    {
        for (const LetterFile& file : files.files) {
            if (file.format == LetterFormat::Pdf)
                return file.working;
        }
        return files.mergeOnlyPdf;
    }

    Word::Application& Office()
    {
        if (!mOffice) {
            try {
                mOffice = mRun.word.CreateApplication();
                mFailedStarts = 0;
            } catch (...) {
                ++mFailedStarts;
                throw;
            }
        }
        return *mOffice;
    }

    // The open template a letter starts from: for a template with conditional texts, one in
    // which the texts this letter shows are resolved, opened for the first letter that shows
    // them and kept for every letter that shows the same.
    KeptTemplate& Start(const LetterLine& letter, const LineTags* tags)
    {
        QString outcomes;
        if (tags) {
            for (const RowCondition& condition : tags->conditions)
                outcomes += tags->holds(letter, condition) ? QLatin1Char('1') : QLatin1Char('0');
        }
        ++mUses;
        if (const auto open = mOpen.find(outcomes); open != mOpen.end()) {
            open->second.lastUse = mUses;
            return open->second;
        }
        if (mOpen.size() >= MostOpenTemplates) {
            const auto oldest = std::min_element(mOpen.begin(), mOpen.end(), [](const auto& a, const auto& b) {
                return a.second.lastUse < b.second.lastUse;
            });
            PutAside(oldest->second);
        }
        KeptTemplate opened;
        opened.document = Use(Office().Documents()).Open(mRun.templatePath, true);
        // The letters are the user's, whoever made the template.
        opened.document->SetBuiltInDocumentProperty(Word::wdPropertyAuthor, AccountName());
        opened.document->SetBuiltInDocumentProperty(Word::wdPropertyLastAuthor, AccountName());
        if (!outcomes.isEmpty())
            ResolveConditionalTexts(opened.document, [&](const RowCondition& condition) { return tags->holds(letter, condition); });
        opened.fingerprint = Fingerprint(*opened.document);
        opened.lastUse = mUses;
        return mOpen.emplace(outcomes, std::move(opened)).first->second;
    }

    // Puts an open template aside: the next letter that starts from it opens it again.
    void PutAside(const KeptTemplate& open)
    {
        const auto kept = std::find_if(mOpen.begin(), mOpen.end(), [&](const auto& each) { return &each.second == &open; });
        Use(kept->second.document).Close(Word::wdDoNotSaveChanges);
        mOpen.erase(kept);
    }

    // Fills an open template with the line's texts in the office, saves the letter in every
    // format in the private folder, and takes the letter back, all of it one change to the
    // template; returns what the reader should know about the letter. A template that is not
    // as it was after that is put aside, and so is one that has made LettersPerOpening
    // letters. An office that failed on the way is ended: the next letter starts a fresh one.
    QString Fill(const LetterJob& job, const LetterFiles& files, const LineTags* tags)
    {
        bool started = false;
        try {
            KeptTemplate& start = Start(job.letter, tags);
            started = !mOptions.templatePerLetter;
            Word::Document& document = *start.document;
            if (!mOptions.templatePerLetter)
                document.StartCustomRecord(QStringLiteral("Letter"));
            const QStringList replacedIn = FillLetter(start.document, job.letter, mOptions,
                                                      mOptions.keepEmptyParagraphs ? nullptr : &start.emptyParagraphs,
                                                      start.fields, tags, mRun.ending);
            if (!mOptions.templatePerLetter)
                document.EndCustomRecord();
            for (const LetterFile& file : files.files) {
                switch (file.format) {
                case LetterFormat::Doc:
                    document.SaveAs(file.working, Word::wdFormatDocument97);
                    break;
                case LetterFormat::Docx:
                    document.SaveAs(file.working, Word::wdFormatXMLDocument);
                    break;
                case LetterFormat::Odt:
                    document.SaveAs(file.working, Word::wdFormatOpenDocumentText);
                    break;
                case LetterFormat::Pdf:
                    ExportPdf(document, job, file.working);
                    break;
                }
            }
            if (!files.mergeOnlyPdf.isEmpty())
                ExportPdf(document, job, files.mergeOnlyPdf);
            if (mOptions.templatePerLetter) {
                PutAside(start);
            } else if (!document.Undo() || Fingerprint(document) != start.fingerprint) {
                PutAside(start);
                ++mRun.reopened;
            } else if (++start.letters >= (tags && !tags->itemRows.empty() ? LettersPerOpeningWithItems : LettersPerOpening)) {
                PutAside(start);
            }
            return ReplacedCharactersNote(replacedIn);
        } catch (...) {
            if (started)
                ++mRun.reopened;
            EndOffice();
            throw;
        }
    }

    // The letter's PDF at path, as the options ask, titled with the letter's name where the
    // template has no title, and followed by the pages to append.
    void ExportPdf(Word::Document& document, const LetterJob& job, const QString& path) const
    {
        Word::FixedFormatOptions pdf;
        pdf.archivePart = mOptions.archivePart;
        pdf.watermark = mOptions.watermark;
        pdf.titleIfNone = job.stem;
        document.ExportAsFixedFormat(path, pdf);
        if (mRun.appended.empty())
            return;
        const QString whole = path + QStringLiteral(".whole.pdf");
        std::vector<QString> inputs{path};
        inputs.insert(inputs.end(), mRun.appended.begin(), mRun.appended.end());
        MergePdfFiles(inputs, whole);
        MoveFileOver(whole, path);
    }

    // Fill, and once more in a fresh office when that fails: an office fault that comes and
    // goes (the text of a shape now and then read as nothing) then costs no letter. The second
    // failure is the letter's; a letter made on the second try says what the first met.
    QString FillOnceMore(const LetterJob& job, const LetterFiles& files, const LineTags* tags)
    {
        try {
            return Fill(job, files, tags);
        } catch (...) {
            if (mRun.ending.stop_requested())
                throw;
            const QString first = DescribeException(std::current_exception());
            for (const LetterFile& file : files.files)
                QFile::remove(file.working);
            if (!files.mergeOnlyPdf.isEmpty())
                QFile::remove(files.mergeOnlyPdf);
            const QString note = Fill(job, files, tags);
            return (note.isEmpty() ? QString() : note + QLatin1Char(' ')) +
                   QStringLiteral("It was made on a second try; the first failed: %1").arg(first);
        }
    }

    void EndOffice()
    {
        mOpen.clear();
        mLettersOfOffice = 0;
        if (!mOffice)
            return;
        Quit(*mOffice);
        mOffice.reset();
    }

    const RunSetup& mRun;
    const BatchOptions& mOptions;
    std::shared_ptr<Word::Application> mOffice;
    int mFailedStarts = 0;
    // The templates open in the office, by the outcomes of the conditions of their conditional
    // texts ("101"; "" for a template without them).
    std::map<QString, KeptTemplate> mOpen;
    // How many letters have started from an open template, which tells the one used longest ago.
    quint64 mUses = 0;
    // How many letters the office has made or tried since it started.
    int mLettersOfOffice = 0;
};

// Whether the run's private folder is still the one it began with.
bool WorkFolderStillThere(const RunSetup& run)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(run.workFolder).constData(), &info) == 0 && S_ISDIR(info.st_mode)
           && FileIdentity{info.st_dev, info.st_ino} == run.workFolderIdentity;
}

// The first worker reads a template of the user's; the others start their offices meanwhile
// and wait for its verdict.

void Work(Queue& queue, const RunSetup& run, const LetterTemplate& letterTemplate, bool first,
          const std::vector<LetterJob>& jobs, std::vector<QString>& mergePdfs, const std::stop_token& stop)
{
    {
        LetterMaker maker(run);
        if (letterTemplate.tags && first) {
            try {
                std::vector<ItemRowPlace> itemRows;
                LineTags tags = letterTemplate.tags(maker.ReadTags(letterTemplate, itemRows));
                tags.itemRows = std::move(itemRows);
                queue.Accept(std::move(tags));
            } catch (...) {
                queue.Refuse(std::current_exception());
            }
        } else if (letterTemplate.tags) {
            maker.StartOffice();
        }
        const std::optional<const LineTags*> tags = queue.WaitForTemplate();
        while (tags && maker.FailedStarts() < OfficeStartAttempts) {
            const std::optional<std::size_t> job = queue.Take(stop);
            if (!job)
                break;
            LetterReport report = maker.Make(jobs[*job], *tags, mergePdfs[*job]);
            const bool failed = report.outcome == LetterOutcome::Failed;
            queue.Report(std::move(report));
            // Once the private folder is gone every letter would fail: the run stops, saying why.
            if (failed && !WorkFolderStillThere(run)) {
                queue.Abort(std::make_exception_ptr(AppError(
                    QStringLiteral("The private working folder \"%1\" was removed or renamed by another program while the "
                                   "letters were made, and no letter can be made without it; the run stops. Run it again "
                                   "to make the letters still missing.")
                        .arg(QDir::toNativeSeparators(run.workFolder)))));
                break;
            }
        }
    }
    // The office ended above, on the thread that started it.
    queue.WorkerEnded();
}

// Merges the letters' PDFs, in the order of the jobs, and places the merged file.
MergeReport Merge(const std::vector<LetterJob>& jobs, const std::vector<QString>& mergePdfs, const RunSetup& run,
                  bool stopped)
{
    MergeReport merged;
    if (stopped) {
        merged.problem = QStringLiteral("the run was stopped before every letter was made");
        return merged;
    }
    QElapsedTimer timer;
    timer.start();
    std::vector<QString> inputs;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!mergePdfs[i].isEmpty()) {
            inputs.push_back(mergePdfs[i]);
            merged.rows.push_back(jobs[i].letter.row);
        }
    }
    if (inputs.empty()) {
        merged.problem = QStringLiteral("no letter was made");
        return merged;
    }
    try {
        const QString working = JoinPath(run.workFolder, QStringLiteral("merged.pdf"));
        MergePdfFiles(inputs, working);
        merged.bytes = QFileInfo(working).size();
        if (!PlaceCopies({{working, run.options.merged}}, run.options.force))
            merged.problem = QStringLiteral("\"%1\" exists already (--force replaces it)").arg(QDir::toNativeSeparators(run.options.merged));
        QFile::remove(working);
    } catch (...) {
        merged.problem = DescribeException(std::current_exception());
    }
    if (!merged.problem.isEmpty())
        merged.rows.clear();
    merged.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    return merged;
}

// The copy of the template at path with the pictures it links to embedded, beside it in the
// working folder: the office is sent each picture's bytes as read when its link was checked,
// and sees no file of the user's. Throws AppError when a link is left.
QString EmbedPictures(Word::ApplicationFactory& word, const QString& path, const LetterTemplate& letterTemplate)
{
    const QString folder = QFileInfo(path).path();
    const QString shown = QDir::toNativeSeparators(letterTemplate.path);
    const std::shared_ptr<Word::Application> office = word.CreateApplication();
    const auto quit = qScopeGuard([&] { Quit(*office); });
    const std::shared_ptr<Word::Document> document = Use(office->Documents()).Open(path, true);
    for (const QString& link : document->LinkedPictures()) {
        const auto checked = std::find_if(letterTemplate.pictures.begin(), letterTemplate.pictures.end(),
                                          [&](const LinkedPicture& each) { return LinkTarget(each.link, path) == QUrl(link); });
        // A link the file's check could not read (a Word 97-2003 file's) is held to the same
        // folder; one relative to the working copy leads from the user's template instead.
        const QString target = MovedFileUrl(link, folder, QFileInfo(letterTemplate.path).absolutePath());
        const std::optional<LinkedPicture> found = checked == letterTemplate.pictures.end()
                                                       ? PictureInside(link, QUrl(target), letterTemplate.embedFolder)
                                                       : std::optional<LinkedPicture>(*checked);
        if (!found)
            throw AppError(QStringLiteral("The template \"%1\" links a picture to \"%2\", which is not inside the folder "
                                          "--embed-links names.").arg(shown, link));
        document->EmbedLinkedPicture(link, found->bytes);
    }
    const TemplateCopyFormat format = CopyFormatOf(letterTemplate.fileName);
    const QString embedded = JoinPath(folder, QStringLiteral("embedded.") + format.extension);
    document->SaveAs(embedded, format.fileFormat);
    document->Close(Word::wdDoNotSaveChanges);
    QFile saved(embedded);
    if (!saved.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The template \"%1\" with its pictures embedded could not be read back: %2").arg(shown, saved.errorString()));
    if (const std::vector<TemplateLink> left = TemplateLinks(saved.readAll(), QFileInfo(embedded).fileName(), letterTemplate.path); !left.empty())
        throw AppError(QStringLiteral("The template \"%1\" still links to \"%2\" once its pictures are embedded.").arg(shown, left.front().target));
    return embedded;
}
}

QStringList LetterFilePaths(const LetterJob& job, const BatchOptions& options)
{
    QStringList paths;
    for (const LetterFormat format : options.formats)
        paths << JoinPath(options.outputFolder, job.stem + QLatin1Char('.') + FormatExtension(format));
    return paths;
}

QString FormatExtension(LetterFormat format)
{
    switch (format) {
    case LetterFormat::Doc:
        return QStringLiteral("doc");
    case LetterFormat::Docx:
        return QStringLiteral("docx");
    case LetterFormat::Odt:
        return QStringLiteral("odt");
    case LetterFormat::Pdf:
        return QStringLiteral("pdf");
    }
    return QString();
}

BatchResult MakeLetters(const std::vector<LetterJob>& jobs, const BatchOptions& options, Word::ApplicationFactory& word,
                        const LetterTemplate& letterTemplate, std::stop_token stop, std::stop_token ending,
                        const std::function<void(const LetterReport&)>& report, const std::function<void()>& begin)
{
    if (options.formats.empty())
        throw AppError(QStringLiteral("No file format was given for the letters."));
    // The office opens and writes files by path: they live in a folder only the user can enter.
    // A batch killed outright leaves it to the next start, which the journal tells.
    const QString privateFolder = WorkingFolder();
    LeftoverFolder workFolder(JoinPath(privateFolder, QStringLiteral("inkhaven-batch-XXXXXX")));
    if (!workFolder.IsValid())
        throw AppError(QStringLiteral("No private working folder could be made in \"%1\": %2")
                           .arg(QDir::toNativeSeparators(privateFolder), workFolder.ErrorString()));
    const QString templateCopy = JoinPath(workFolder.Path(), letterTemplate.fileName);
    WriteBytesToFile(letterTemplate.bytes, templateCopy);
    std::atomic<int> reopened = 0;
    struct stat folderInfo {};
    if (::lstat(QFile::encodeName(workFolder.Path()).constData(), &folderInfo) != 0)
        throw AppError(QStringLiteral("The private working folder \"%1\" is gone.").arg(QDir::toNativeSeparators(workFolder.Path())));
    // The PDFs to append are written as they were read and checked, never taken again by name.
    std::vector<QString> appended;
    for (std::size_t i = 0; i < options.appended.size(); ++i) {
        appended.push_back(JoinPath(workFolder.Path(), QStringLiteral("append-%1.pdf").arg(i + 1)));
        WriteBytesToFile(options.appended[i].bytes, appended.back());
    }
    const RunSetup run{options, word, workFolder.Path(), {folderInfo.st_dev, folderInfo.st_ino},
                       letterTemplate.pictures.empty() && letterTemplate.embedFolder.isEmpty()
                           ? templateCopy
                           : EmbedPictures(word, templateCopy, letterTemplate),
                       appended, std::move(ending), reopened};

    const int workers = std::max(1, std::min(options.offices, static_cast<int>(jobs.size())));
    Queue queue(jobs, workers, static_cast<bool>(letterTemplate.tags));
    std::vector<QString> mergePdfs(jobs.size());
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < workers; ++i)
            threads.emplace_back(Work, std::ref(queue), std::cref(run), std::cref(letterTemplate), i == 0, std::cref(jobs),
                                 std::ref(mergePdfs), std::cref(stop));
        try {
            queue.Deliver(begin, report);
        } catch (...) {
            threads.clear();
            throw;
        }
    }
    BatchResult result;
    result.notBegun = queue.NotBegun();
    result.templateReopened = reopened;
    if (!options.merged.isEmpty())
        result.merged = Merge(jobs, mergePdfs, run, stop.stop_requested());
    return result;
}
