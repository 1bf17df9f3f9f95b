#include "FakeWord.h"

#include "PageRendering.h"
#include "core/AppError.h"
#include "files/SafeFile.h"

#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>

#include <optional>
#include <utility>

namespace {

QString Bool(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// One application object: the documents it has open and whether it has quit.
struct Instance {
    FakeWord& word;
    bool quit = false;
    QList<std::shared_ptr<FakeWord::Content>> open;

    void Enter(const QString& member, const QString& arguments = QString())
    {
        word.Enter(member, arguments);
        if (quit)
            throw AppError(QStringLiteral("The word processor has quit."));
    }
};

// A piece of text of a document: a story or the text of a shape, or one paragraph of either.
struct Text {
    std::shared_ptr<FakeWord::Content> content;
    int story = 0;      // index into stories, when shape < 0
    int shape = -1;     // index into shapes
    int paragraph = -1; // index into the paragraphs of the story or shape

    QString Get() const { return paragraph >= 0 ? Paragraphs().value(paragraph) : Whole(); }
    void Set(const QString& text) const
    {
        if (paragraph < 0) {
            Whole() = text;
            return;
        }
        QStringList paragraphs = Paragraphs();
        paragraphs[paragraph] = text;
        Whole() = paragraphs.join(QLatin1Char('\r'));
    }
    // The paragraph goes with its mark.
    void RemoveParagraph() const
    {
        QStringList paragraphs = Paragraphs();
        paragraphs.removeAt(paragraph);
        Whole() = paragraphs.join(QLatin1Char('\r'));
    }
    QStringList Paragraphs() const { return Whole().split(QLatin1Char('\r')); }
    QString& Whole() const { return shape >= 0 ? content->shapes[shape].text : content->stories[story]; }
};

class FakeReplacement : public Word::Replacement {
public:
    explicit FakeReplacement(std::shared_ptr<Instance> instance) : mInstance(std::move(instance)) {}
    void ClearFormatting() override { mInstance->Enter(QStringLiteral("Replacement.ClearFormatting")); }
    void SetText(const QString& text) override
    {
        mInstance->Enter(QStringLiteral("Replacement.SetText"), text);
        this->text = text;
    }
    QString text;

private:
    std::shared_ptr<Instance> mInstance;
};

class FakeFind : public Word::Find {
public:
    FakeFind(std::shared_ptr<Instance> instance, Text text)
        : mInstance(std::move(instance)), mText(std::move(text)), mReplacement(std::make_shared<FakeReplacement>(mInstance))
    {
    }

    void ClearFormatting() override { mInstance->Enter(QStringLiteral("ClearFormatting")); }
    std::shared_ptr<Word::Replacement> Replacement() override
    {
        mInstance->Enter(QStringLiteral("Replacement"));
        return mReplacement;
    }
    void SetText(const QString& text) override
    {
        mInstance->Enter(QStringLiteral("SetText"), text);
        mFindText = text;
    }
    void SetForward(bool value) override { mInstance->Enter(QStringLiteral("SetForward"), Bool(value)); }
    void SetWrap(int value) override { mInstance->Enter(QStringLiteral("SetWrap"), QString::number(value)); }
    void SetFormat(bool value) override { mInstance->Enter(QStringLiteral("SetFormat"), Bool(value)); }
    void SetMatchCase(bool value) override
    {
        mInstance->Enter(QStringLiteral("SetMatchCase"), Bool(value));
        mMatchCase = value;
    }
    void SetMatchWholeWord(bool value) override { mInstance->Enter(QStringLiteral("SetMatchWholeWord"), Bool(value)); }
    void SetMatchWildcards(bool value) override { mInstance->Enter(QStringLiteral("SetMatchWildcards"), Bool(value)); }
    void SetMatchSoundsLike(bool value) override { mInstance->Enter(QStringLiteral("SetMatchSoundsLike"), Bool(value)); }
    void SetMatchAllWordForms(bool value) override
    {
        mInstance->Enter(QStringLiteral("SetMatchAllWordForms"), Bool(value));
    }

    bool Execute(const Word::ExecuteArguments& arguments) override
    {
        QStringList shown;
        if (arguments.FindText)
            shown << QStringLiteral("FindText=") + *arguments.FindText;
        if (arguments.ReplaceWith)
            shown << QStringLiteral("ReplaceWith=") + *arguments.ReplaceWith;
        if (arguments.Replace)
            shown << QStringLiteral("Replace=%1").arg(*arguments.Replace);
        mInstance->Enter(QStringLiteral("Execute"), shown.join(QStringLiteral(", ")));

        const QString find = arguments.FindText.value_or(mFindText);
        const QString with = arguments.ReplaceWith.value_or(mReplacement->text);
        const int replace = arguments.Replace.value_or(0);
        if (find.isEmpty())
            return false;
        const Qt::CaseSensitivity sensitivity = mMatchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        const QString text = mText.Get();
        QString result;
        qsizetype from = 0;
        bool found = false;
        for (qsizetype at = text.indexOf(find, 0, sensitivity); at >= 0; at = text.indexOf(find, from, sensitivity)) {
            found = true;
            result += text.mid(from, at - from) + (replace == 0 ? text.mid(at, find.size()) : with);
            from = at + find.size();
            if (replace != Word::wdReplaceAll)
                break;
        }
        mText.Set(result + text.mid(from));
        return found;
    }

private:
    std::shared_ptr<Instance> mInstance;
    Text mText;
    std::shared_ptr<FakeReplacement> mReplacement;
    QString mFindText;
    bool mMatchCase = false;
};

template <class T>
class FakeCollection;

class FakeField : public Word::Field {
public:
    FakeField(std::shared_ptr<Instance> instance, std::shared_ptr<FakeWord::Content> content, int index)
        : mInstance(std::move(instance)), mContent(std::move(content)), mIndex(index)
    {
    }
    int Type() override
    {
        mInstance->Enter(QStringLiteral("Type"));
        return Get().type;
    }
    QString Code() override
    {
        mInstance->Enter(QStringLiteral("Code"));
        return Get().code;
    }
    void UnlinkAs(const QString& text) override
    {
        mInstance->Enter(QStringLiteral("UnlinkAs"), text);
        Get().text = text;
        Get().unlinked = true;
    }

private:
    FakeWord::Field& Get() const { return mContent->fields[mIndex]; }

    std::shared_ptr<Instance> mInstance;
    std::shared_ptr<FakeWord::Content> mContent;
    int mIndex;
};

class FakeRange : public Word::Range {
public:
    FakeRange(std::shared_ptr<Instance> instance, ::Text text)
        : mInstance(std::move(instance)), mText(text), mFind(std::make_shared<FakeFind>(mInstance, std::move(text)))
    {
    }
    QString Text() override
    {
        mInstance->Enter(QStringLiteral("Text"));
        return mText.paragraph >= 0 ? mText.Get() + QLatin1Char('\r') : mText.Get();
    }
    void Delete() override
    {
        mInstance->Enter(QStringLiteral("Delete"));
        if (mText.paragraph < 0)
            mText.Set(QString());
        else
            mText.RemoveParagraph();
    }
    std::shared_ptr<Word::Collection<Word::Field>> Fields() override;
    std::shared_ptr<Word::Collection<Word::Paragraph>> Paragraphs() override;
    std::shared_ptr<Word::Find> Find() override
    {
        mInstance->Enter(QStringLiteral("Find"));
        return mFind;
    }
    QByteArray PagesAsPdf() override
    {
        mInstance->Enter(QStringLiteral("PagesAsPdf"));
        return mInstance->word.pdf;
    }

private:
    std::shared_ptr<Instance> mInstance;
    ::Text mText;
    std::shared_ptr<FakeFind> mFind;
};

template <class T>
class FakeCollection : public Word::Collection<T> {
public:
    FakeCollection(std::shared_ptr<Instance> instance, QList<std::shared_ptr<T>> items)
        : mInstance(std::move(instance)), mItems(std::move(items))
    {
    }
    int Count() override
    {
        mInstance->Enter(QStringLiteral("Count"));
        return static_cast<int>(mItems.size());
    }
    std::shared_ptr<T> Item(int index) override
    {
        mInstance->Enter(QStringLiteral("Item"), QString::number(index));
        if (index < 0 || index >= mItems.size())
            throw AppError(QStringLiteral("The requested member of the collection does not exist."));
        return mItems[index];
    }

private:
    std::shared_ptr<Instance> mInstance;
    QList<std::shared_ptr<T>> mItems;
};

std::shared_ptr<Word::Collection<Word::Field>> FakeRange::Fields()
{
    mInstance->Enter(QStringLiteral("Fields"));
    QList<std::shared_ptr<Word::Field>> fields;
    const QList<FakeWord::Field>& all = mText.content->fields;
    for (int i = 0; i < all.size(); ++i) {
        if (mText.shape < 0 && mText.paragraph < 0 && all[i].story == mText.story && !all[i].unlinked)
            fields.append(std::make_shared<FakeField>(mInstance, mText.content, i));
    }
    return std::make_shared<FakeCollection<Word::Field>>(mInstance, fields);
}

class FakeParagraph : public Word::Paragraph {
public:
    FakeParagraph(std::shared_ptr<Instance> instance, Text text) : mInstance(std::move(instance)), mText(std::move(text)) {}
    std::shared_ptr<Word::Range> Range() override
    {
        mInstance->Enter(QStringLiteral("Paragraph.Range"));
        return std::make_shared<FakeRange>(mInstance, mText);
    }

private:
    std::shared_ptr<Instance> mInstance;
    Text mText;
};

std::shared_ptr<Word::Collection<Word::Paragraph>> FakeRange::Paragraphs()
{
    mInstance->Enter(QStringLiteral("Paragraphs"));
    QList<std::shared_ptr<Word::Paragraph>> paragraphs;
    if (mText.paragraph >= 0) {
        paragraphs.append(std::make_shared<FakeParagraph>(mInstance, mText));
    } else {
        for (int i = 0; i < mText.Paragraphs().size(); ++i)
            paragraphs.append(std::make_shared<FakeParagraph>(mInstance, ::Text{mText.content, mText.story, mText.shape, i}));
    }
    return std::make_shared<FakeCollection<Word::Paragraph>>(mInstance, paragraphs);
}

class FakeTextFrame : public Word::TextFrame {
public:
    FakeTextFrame(std::shared_ptr<Instance> instance, Text text) : mInstance(std::move(instance)), mText(std::move(text)) {}
    bool HasText() override
    {
        mInstance->Enter(QStringLiteral("HasText"));
        return !mText.Get().isEmpty();
    }
    std::shared_ptr<Word::Range> TextRange() override
    {
        mInstance->Enter(QStringLiteral("TextRange"));
        return std::make_shared<FakeRange>(mInstance, mText);
    }

private:
    std::shared_ptr<Instance> mInstance;
    Text mText;
};

class FakeShape : public Word::Shape {
public:
    FakeShape(std::shared_ptr<Instance> instance, Text text) : mInstance(std::move(instance)), mText(std::move(text)) {}
    std::shared_ptr<Word::TextFrame> TextFrame() override
    {
        mInstance->Enter(QStringLiteral("TextFrame"));
        if (!mText.content->shapes[mText.shape].hasTextFrame)
            throw AppError(QStringLiteral("This shape cannot hold text."));
        return std::make_shared<FakeTextFrame>(mInstance, mText);
    }

private:
    std::shared_ptr<Instance> mInstance;
    Text mText;
};

class FakeDocument : public Word::Document {
public:
    FakeDocument(std::shared_ptr<Instance> instance, std::shared_ptr<FakeWord::Content> content)
        : mInstance(std::move(instance)), mContent(std::move(content))
    {
    }

    std::shared_ptr<Word::Collection<Word::Range>> StoryRanges() override
    {
        Enter(QStringLiteral("StoryRanges"));
        QList<std::shared_ptr<Word::Range>> ranges;
        for (int i = 0; i < mContent->stories.size(); ++i)
            ranges.append(std::make_shared<FakeRange>(mInstance, Text{mContent, i}));
        return std::make_shared<FakeCollection<Word::Range>>(mInstance, ranges);
    }
    std::shared_ptr<Word::Collection<Word::Shape>> Shapes() override
    {
        Enter(QStringLiteral("Shapes"));
        QList<std::shared_ptr<Word::Shape>> shapes;
        for (int i = 0; i < mContent->shapes.size(); ++i)
            shapes.append(std::make_shared<FakeShape>(mInstance, Text{mContent, 0, i}));
        return std::make_shared<FakeCollection<Word::Shape>>(mInstance, shapes);
    }
    void SaveAs(const QString& fileName, std::optional<int> fileFormat) override
    {
        Enter(QStringLiteral("SaveAs"), fileFormat ? fileName + QStringLiteral(", FileFormat=%1").arg(*fileFormat) : fileName);
        WriteBytesToFile(mContent->stories.value(0).toUtf8(), fileName);
        mInstance->word.saved[fileName] = *mContent;
    }
    void ExportAsFixedFormat(const QString& outputFileName, const Word::FixedFormatOptions&) override
    {
        Enter(QStringLiteral("ExportAsFixedFormat"), outputFileName);
        WriteBytesToFile(mContent->stories.value(0).toUtf8(), outputFileName);
    }
    void Close(std::optional<int> saveChanges) override
    {
        Enter(QStringLiteral("Close"), saveChanges ? QString::number(*saveChanges) : QString());
        mInstance->open.removeAll(mContent);
    }
    QStringList LinkedPictures() override
    {
        Enter(QStringLiteral("LinkedPictures"));
        return {};
    }
    void EmbedLinkedPicture(const QString& link, const QByteArray& picture) override
    {
        Enter(QStringLiteral("EmbedLinkedPicture"), link + QStringLiteral(", ") + QString::number(picture.size()));
    }
    QStringList OtherLinks() override
    {
        Enter(QStringLiteral("OtherLinks"));
        return {};
    }
    std::vector<std::pair<QString, QString>> EmbeddedObjectTexts() override
    {
        Enter(QStringLiteral("EmbeddedObjectTexts"));
        return {};
    }
    void StartCustomRecord(const QString& name) override
    {
        Enter(QStringLiteral("StartCustomRecord"), name);
        mRecordStart = *mContent;
    }
    void EndCustomRecord() override { Enter(QStringLiteral("EndCustomRecord")); }
    bool Undo() override
    {
        Enter(QStringLiteral("Undo"));
        if (!mRecordStart)
            return false;
        *mContent = *std::exchange(mRecordStart, std::nullopt);
        return true;
    }
    void SetBuiltInDocumentProperty(int property, const QString& value) override
    {
        Enter(QStringLiteral("SetBuiltInDocumentProperty"), QStringLiteral("%1, %2").arg(property).arg(value));
        mContent->properties[property] = value;
    }
    // Paragraphs and characters (their marks included) of the main story; words between spaces.
    int ComputeStatistics(int statistic) override
    {
        Enter(QStringLiteral("ComputeStatistics"), QString::number(statistic));
        const QString& main = mContent->stories.value(0);
        switch (statistic) {
        case Word::wdStatisticParagraphs:
            return static_cast<int>(Text{mContent}.Paragraphs().size());
        case Word::wdStatisticCharactersWithSpaces:
            return static_cast<int>(main.size());
        default:
            return static_cast<int>(main.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).size());
        }
    }
    std::shared_ptr<Word::Range> Range() override
    {
        Enter(QStringLiteral("Range"));
        return std::make_shared<FakeRange>(mInstance, Text{mContent, 0});
    }
    std::shared_ptr<Word::Collection<Word::Paragraph>> Paragraphs() override
    {
        Enter(QStringLiteral("Paragraphs"));
        QList<std::shared_ptr<Word::Paragraph>> paragraphs;
        for (int i = 0; i < Text{mContent}.Paragraphs().size(); ++i)
            paragraphs.append(std::make_shared<FakeParagraph>(mInstance, Text{mContent, 0, -1, i}));
        return std::make_shared<FakeCollection<Word::Paragraph>>(mInstance, paragraphs);
    }
    // A fake document's text is paragraphs alone.
    std::shared_ptr<Word::Collection<Word::Table>> Tables() override
    {
        Enter(QStringLiteral("Tables"));
        return std::make_shared<FakeCollection<Word::Table>>(mInstance, QList<std::shared_ptr<Word::Table>>());
    }

private:
    void Enter(const QString& member, const QString& arguments = QString())
    {
        mInstance->Enter(member, arguments);
        if (!mInstance->open.contains(mContent))
            throw AppError(QStringLiteral("The document has been closed."));
    }

    std::shared_ptr<Instance> mInstance;
    std::shared_ptr<FakeWord::Content> mContent;
    // The content as the latest custom record began, which Undo brings back.
    std::optional<FakeWord::Content> mRecordStart;
};

class FakeDocuments : public Word::Documents {
public:
    explicit FakeDocuments(std::shared_ptr<Instance> instance) : mInstance(std::move(instance)) {}
    std::shared_ptr<Word::Document> Open(const QString& fileName, std::optional<bool> readOnly) override
    {
        mInstance->Enter(QStringLiteral("Open"),
                         readOnly ? fileName + QStringLiteral(", ReadOnly=") + Bool(*readOnly) : fileName);
        FakeWord& word = mInstance->word;
        const auto saved = word.saved.constFind(fileName);
        if (saved == word.saved.constEnd() && !QFileInfo(fileName).isFile())
            throw AppError(QStringLiteral("The document \"%1\" could not be opened: there is no such file.").arg(fileName));
        auto content = std::make_shared<FakeWord::Content>(saved != word.saved.constEnd() ? *saved : word.document);
        word.opened.append(content);
        mInstance->open.append(content);
        return std::make_shared<FakeDocument>(mInstance, content);
    }

private:
    std::shared_ptr<Instance> mInstance;
};

class FakeApplication : public Word::Application {
public:
    explicit FakeApplication(std::shared_ptr<Instance> instance) : mInstance(std::move(instance)) {}
    ~FakeApplication() override
    {
        if (!mInstance->quit)
            --mInstance->word.running;
    }
    std::shared_ptr<Word::Documents> Documents() override
    {
        mInstance->Enter(QStringLiteral("Documents"));
        return std::make_shared<FakeDocuments>(mInstance);
    }
    void SetDisplayAlerts(bool value) override { mInstance->Enter(QStringLiteral("SetDisplayAlerts"), Bool(value)); }
    std::shared_ptr<Word::Document> ActiveDocument() override
    {
        mInstance->Enter(QStringLiteral("ActiveDocument"));
        if (mInstance->open.isEmpty())
            throw AppError(QStringLiteral("This command is not available because no document is open."));
        return std::make_shared<FakeDocument>(mInstance, mInstance->open.last());
    }
    void Quit() override
    {
        mInstance->Enter(QStringLiteral("Quit"));
        mInstance->quit = true;
        mInstance->open.clear();
        --mInstance->word.running;
    }

private:
    std::shared_ptr<Instance> mInstance;
};

}

FakeWord::FakeWord()
    : pdf(LetterPdf(1, [](QPainter& painter, int) { painter.fillRect(QRectF(0, 0, 612, 792), QColor(0xee, 0xee, 0xee)); }))
{
}

std::shared_ptr<Word::Application> FakeWord::CreateApplication()
{
    Enter(QStringLiteral("CreateApplication"));
    ++running;
    return std::make_shared<FakeApplication>(std::make_shared<Instance>(Instance{*this}));
}

void FakeWord::FailOn(const QString& member, int occurrence, const QString& description)
{
    failures.append({member, occurrence, description});
}

int FakeWord::Calls(const QString& member) const
{
    return mCalls.value(member);
}

void FakeWord::Enter(const QString& member, const QString& arguments)
{
    log.append(arguments.isEmpty() ? member : member + QLatin1Char('(') + arguments + QLatin1Char(')'));
    const int call = ++mCalls[member];
    for (const Failure& failure : failures)
        if (failure.member == member && (failure.occurrence == 0 || failure.occurrence == call))
            throw AppError(failure.description);
}
