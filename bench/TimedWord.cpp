#include "TimedWord.h"

#include "BenchSupport.h"

#include <chrono>

namespace Bench {
namespace {

// Adds the time of one call to the instance's key of that kind, also when the call throws.
class Timing {
public:
    Timing(CallTimes& times, const QString& instance, const char* kind)
        : mTimes(times), mKey(instance + QStringLiteral(": ") + QLatin1String(kind))
    {
        mTimer.start();
    }
    ~Timing() { mTimes.Add(mKey, Ms(mTimer)); }
    Timing(const Timing&) = delete;
    Timing& operator=(const Timing&) = delete;

private:
    CallTimes& mTimes;
    QString mKey;
    QElapsedTimer mTimer;
};

// Where a wrapper records: the shared table and the instance it belongs to.
struct Scope {
    CallTimes& times;
    QString instance;
    Timing Time(const char* kind) const { return Timing(times, instance, kind); }
};

template <class T>
std::shared_ptr<T> Wrap(const Scope& scope, std::shared_ptr<T> inner);

class TimedReplacement : public Word::Replacement {
public:
    TimedReplacement(Scope scope, std::shared_ptr<Word::Replacement> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    void ClearFormatting() override
    {
        const auto t = mScope.Time("replace");
        mInner->ClearFormatting();
    }
    void SetText(const QString& text) override
    {
        const auto t = mScope.Time("replace");
        mInner->SetText(text);
    }

private:
    Scope mScope;
    std::shared_ptr<Word::Replacement> mInner;
};

class TimedFind : public Word::Find {
public:
    TimedFind(Scope scope, std::shared_ptr<Word::Find> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    void ClearFormatting() override { Call([&] { mInner->ClearFormatting(); }); }
    std::shared_ptr<Word::Replacement> Replacement() override
    {
        std::shared_ptr<Word::Replacement> inner;
        Call([&] { inner = mInner->Replacement(); });
        return inner ? std::make_shared<TimedReplacement>(mScope, inner) : nullptr;
    }
    void SetText(const QString& text) override { Call([&] { mInner->SetText(text); }); }
    void SetForward(bool value) override { Call([&] { mInner->SetForward(value); }); }
    void SetWrap(int value) override { Call([&] { mInner->SetWrap(value); }); }
    void SetFormat(bool value) override { Call([&] { mInner->SetFormat(value); }); }
    void SetMatchCase(bool value) override { Call([&] { mInner->SetMatchCase(value); }); }
    void SetMatchWholeWord(bool value) override { Call([&] { mInner->SetMatchWholeWord(value); }); }
    void SetMatchWildcards(bool value) override { Call([&] { mInner->SetMatchWildcards(value); }); }
    void SetMatchSoundsLike(bool value) override { Call([&] { mInner->SetMatchSoundsLike(value); }); }
    void SetMatchAllWordForms(bool value) override { Call([&] { mInner->SetMatchAllWordForms(value); }); }
    bool Execute(const Word::ExecuteArguments& arguments) override
    {
        bool found = false;
        Call([&] { found = mInner->Execute(arguments); });
        return found;
    }

private:
    template <class F>
    void Call(F&& call)
    {
        const auto t = mScope.Time("replace");
        call();
    }

    Scope mScope;
    std::shared_ptr<Word::Find> mInner;
};

class TimedRange : public Word::Range {
public:
    TimedRange(Scope scope, std::shared_ptr<Word::Range> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    std::shared_ptr<Word::Find> Find() override
    {
        std::shared_ptr<Word::Find> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->Find();
        }
        return inner ? std::make_shared<TimedFind>(mScope, inner) : nullptr;
    }
    QByteArray PagesAsPdf() override
    {
        const auto t = mScope.Time("render");
        return mInner->PagesAsPdf();
    }
    QString Text() override
    {
        const auto t = mScope.Time("replace");
        return mInner->Text();
    }
    void Delete() override
    {
        const auto t = mScope.Time("replace");
        mInner->Delete();
    }
    std::shared_ptr<Word::Collection<Word::Field>> Fields() override;
    std::shared_ptr<Word::Collection<Word::Paragraph>> Paragraphs() override;

private:
    Scope mScope;
    std::shared_ptr<Word::Range> mInner;
};

class TimedField : public Word::Field {
public:
    TimedField(Scope scope, std::shared_ptr<Word::Field> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    int Type() override
    {
        const auto t = mScope.Time("replace");
        return mInner->Type();
    }
    QString Code() override
    {
        const auto t = mScope.Time("replace");
        return mInner->Code();
    }
    void UnlinkAs(const QString& text) override
    {
        const auto t = mScope.Time("replace");
        mInner->UnlinkAs(text);
    }

private:
    Scope mScope;
    std::shared_ptr<Word::Field> mInner;
};

class TimedParagraph : public Word::Paragraph {
public:
    TimedParagraph(Scope scope, std::shared_ptr<Word::Paragraph> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    std::shared_ptr<Word::Range> Range() override
    {
        std::shared_ptr<Word::Range> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->Range();
        }
        return inner ? std::make_shared<TimedRange>(mScope, inner) : nullptr;
    }

private:
    Scope mScope;
    std::shared_ptr<Word::Paragraph> mInner;
};

class TimedTextFrame : public Word::TextFrame {
public:
    TimedTextFrame(Scope scope, std::shared_ptr<Word::TextFrame> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    bool HasText() override
    {
        const auto t = mScope.Time("replace");
        return mInner->HasText();
    }
    std::shared_ptr<Word::Range> TextRange() override
    {
        std::shared_ptr<Word::Range> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->TextRange();
        }
        return inner ? std::make_shared<TimedRange>(mScope, inner) : nullptr;
    }

private:
    Scope mScope;
    std::shared_ptr<Word::TextFrame> mInner;
};

class TimedShape : public Word::Shape {
public:
    TimedShape(Scope scope, std::shared_ptr<Word::Shape> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    std::shared_ptr<Word::TextFrame> TextFrame() override
    {
        std::shared_ptr<Word::TextFrame> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->TextFrame();
        }
        return inner ? std::make_shared<TimedTextFrame>(mScope, inner) : nullptr;
    }

private:
    Scope mScope;
    std::shared_ptr<Word::Shape> mInner;
};

template <class T>
class TimedCollection : public Word::Collection<T> {
public:
    TimedCollection(Scope scope, std::shared_ptr<Word::Collection<T>> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    int Count() override
    {
        const auto t = mScope.Time("replace");
        return mInner->Count();
    }
    std::shared_ptr<T> Item(int index) override
    {
        std::shared_ptr<T> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->Item(index);
        }
        return Wrap(mScope, inner);
    }

private:
    Scope mScope;
    std::shared_ptr<Word::Collection<T>> mInner;
};

std::shared_ptr<Word::Collection<Word::Field>> TimedRange::Fields()
{
    std::shared_ptr<Word::Collection<Word::Field>> inner;
    {
        const auto t = mScope.Time("replace");
        inner = mInner->Fields();
    }
    return inner ? std::make_shared<TimedCollection<Word::Field>>(mScope, inner) : nullptr;
}

std::shared_ptr<Word::Collection<Word::Paragraph>> TimedRange::Paragraphs()
{
    std::shared_ptr<Word::Collection<Word::Paragraph>> inner;
    {
        const auto t = mScope.Time("replace");
        inner = mInner->Paragraphs();
    }
    return inner ? std::make_shared<TimedCollection<Word::Paragraph>>(mScope, inner) : nullptr;
}

class TimedDocument : public Word::Document {
public:
    TimedDocument(Scope scope, std::shared_ptr<Word::Document> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    std::shared_ptr<Word::Collection<Word::Range>> StoryRanges() override
    {
        std::shared_ptr<Word::Collection<Word::Range>> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->StoryRanges();
        }
        return inner ? std::make_shared<TimedCollection<Word::Range>>(mScope, inner) : nullptr;
    }
    std::shared_ptr<Word::Collection<Word::Shape>> Shapes() override
    {
        std::shared_ptr<Word::Collection<Word::Shape>> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->Shapes();
        }
        return inner ? std::make_shared<TimedCollection<Word::Shape>>(mScope, inner) : nullptr;
    }
    void SaveAs(const QString& fileName, std::optional<int> fileFormat) override
    {
        const auto t = mScope.Time("save");
        mInner->SaveAs(fileName, fileFormat);
    }
    void ExportAsFixedFormat(const QString& outputFileName, const Word::FixedFormatOptions& options) override
    {
        const auto t = mScope.Time("export");
        mInner->ExportAsFixedFormat(outputFileName, options);
    }
    void Close(std::optional<int> saveChanges) override
    {
        const auto t = mScope.Time("close");
        mInner->Close(saveChanges);
    }
    QStringList LinkedPictures() override
    {
        const auto t = mScope.Time("open");
        return mInner->LinkedPictures();
    }
    void EmbedLinkedPicture(const QString& link, const QByteArray& picture) override
    {
        const auto t = mScope.Time("open");
        mInner->EmbedLinkedPicture(link, picture);
    }
    QStringList OtherLinks() override
    {
        const auto t = mScope.Time("open");
        return mInner->OtherLinks();
    }
    std::vector<std::pair<QString, QString>> EmbeddedObjectTexts() override
    {
        const auto t = mScope.Time("open");
        return mInner->EmbeddedObjectTexts();
    }
    void StartCustomRecord(const QString& name) override
    {
        const auto t = mScope.Time("replace");
        mInner->StartCustomRecord(name);
    }
    void EndCustomRecord() override
    {
        const auto t = mScope.Time("replace");
        mInner->EndCustomRecord();
    }
    bool Undo() override
    {
        const auto t = mScope.Time("close");
        return mInner->Undo();
    }
    void SetBuiltInDocumentProperty(int property, const QString& value) override
    {
        const auto t = mScope.Time("replace");
        mInner->SetBuiltInDocumentProperty(property, value);
    }
    int ComputeStatistics(int statistic) override
    {
        const auto t = mScope.Time("close");
        return mInner->ComputeStatistics(statistic);
    }
    std::shared_ptr<Word::Range> Range() override
    {
        std::shared_ptr<Word::Range> inner;
        {
            const auto t = mScope.Time("render");
            inner = mInner->Range();
        }
        return inner ? std::make_shared<TimedRange>(mScope, inner) : nullptr;
    }
    std::shared_ptr<Word::Collection<Word::Paragraph>> Paragraphs() override
    {
        std::shared_ptr<Word::Collection<Word::Paragraph>> inner;
        {
            const auto t = mScope.Time("replace");
            inner = mInner->Paragraphs();
        }
        return inner ? std::make_shared<TimedCollection<Word::Paragraph>>(mScope, inner) : nullptr;
    }
    // The windowed run fills no table rows: the tables pass through untimed.
    std::shared_ptr<Word::Collection<Word::Table>> Tables() override { return mInner->Tables(); }

private:
    Scope mScope;
    std::shared_ptr<Word::Document> mInner;
};

class TimedDocuments : public Word::Documents {
public:
    TimedDocuments(Scope scope, std::shared_ptr<Word::Documents> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    std::shared_ptr<Word::Document> Open(const QString& fileName, std::optional<bool> readOnly) override
    {
        std::shared_ptr<Word::Document> inner;
        {
            const auto t = mScope.Time("open");
            inner = mInner->Open(fileName, readOnly);
        }
        return inner ? std::make_shared<TimedDocument>(mScope, inner) : nullptr;
    }

private:
    Scope mScope;
    std::shared_ptr<Word::Documents> mInner;
};

class TimedApplication : public Word::Application {
public:
    TimedApplication(Scope scope, std::shared_ptr<Word::Application> inner) : mScope(std::move(scope)), mInner(std::move(inner)) {}
    std::shared_ptr<Word::Documents> Documents() override
    {
        std::shared_ptr<Word::Documents> inner;
        {
            const auto t = mScope.Time("open");
            inner = mInner->Documents();
        }
        return inner ? std::make_shared<TimedDocuments>(mScope, inner) : nullptr;
    }
    void SetDisplayAlerts(bool value) override
    {
        const auto t = mScope.Time("close");
        mInner->SetDisplayAlerts(value);
    }
    std::shared_ptr<Word::Document> ActiveDocument() override
    {
        std::shared_ptr<Word::Document> inner;
        {
            const auto t = mScope.Time("close");
            inner = mInner->ActiveDocument();
        }
        return inner ? std::make_shared<TimedDocument>(mScope, inner) : nullptr;
    }
    void Quit() override
    {
        const auto t = mScope.Time("quit");
        mInner->Quit();
    }

private:
    Scope mScope;
    std::shared_ptr<Word::Application> mInner;
};

template <class T>
std::shared_ptr<T> Wrap(const Scope& scope, std::shared_ptr<T> inner)
{
    if (!inner)
        return nullptr;
    if constexpr (std::is_same_v<T, Word::Range>)
        return std::make_shared<TimedRange>(scope, inner);
    else if constexpr (std::is_same_v<T, Word::Field>)
        return std::make_shared<TimedField>(scope, inner);
    else if constexpr (std::is_same_v<T, Word::Paragraph>)
        return std::make_shared<TimedParagraph>(scope, inner);
    else
        return std::make_shared<TimedShape>(scope, inner);
}

}

QString CallTimes::NextInstance()
{
    const int index = mCreated++;
    return index < mNames.size() ? mNames[index] : QStringLiteral("office %1").arg(index + 1);
}

void CallTimes::Add(const QString& key, double ms)
{
    mMs[key] += ms;
    mLastEndMs = Bench::Ms(mClock);
}

void CallTimes::Clear()
{
    mCreated = 0;
    mMs.clear();
    mClock.restart();
    mLastEndMs = 0;
}

std::shared_ptr<Word::Application> TimedFactory::CreateApplication()
{
    const Scope scope{mTimes, mTimes.NextInstance()};
    std::shared_ptr<Word::Application> inner;
    {
        const auto t = scope.Time("wait for office");
        inner = mInner.CreateApplication();
    }
    return std::make_shared<TimedApplication>(scope, inner);
}

std::shared_ptr<Word::Application> CountingFactory::CreateApplication()
{
    QElapsedTimer timer;
    timer.start();
    const auto record = [&] {
        {
            const std::lock_guard<std::mutex> lock(mMutex);
            mCreateMs.append(Ms(timer));
        }
        mCreated.notify_all();
    };
    try {
        auto application = mInner.CreateApplication();
        record();
        return application;
    } catch (...) {
        record();
        throw;
    }
}

bool CountingFactory::WaitForCreated(int count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mMutex);
    return mCreated.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return mCreateMs.size() >= count; });
}

QList<double> CountingFactory::CreateMs()
{
    const std::lock_guard<std::mutex> lock(mMutex);
    return mCreateMs;
}

} // namespace Bench
