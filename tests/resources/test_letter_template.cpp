// The committed letter template, read structure by structure: the compound file, the
// Word file information block, the stories, the header, the section and, as a cross-check,
// what two independent .doc readers make of it.

#include "LetterExpectations.h"
#include "support/CompoundFile.h"
#include "support/WordBinaryDocument.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <memory>
#include <stdexcept>

namespace {

// Section property modifiers of the Word binary format.
constexpr quint16 kPageWidth = 0xB01F;
constexpr quint16 kPageHeight = 0xB020;
constexpr quint16 kLeftMargin = 0xB021;
constexpr quint16 kRightMargin = 0xB022;
constexpr quint16 kTopMargin = 0x9023;
constexpr quint16 kBottomMargin = 0x9024;
constexpr quint16 kHeaderDistance = 0xB017;
constexpr quint16 kFooterDistance = 0xB018;
constexpr quint16 kTitlePage = 0x300A;

// Field types of the Word binary format.
constexpr int kCreateDateField = 21;
constexpr int kPageField = 33;
constexpr int kMacroButtonField = 51;

// Runs a reader on the committed template and returns what it prints.
QString ReaderOutput(const QString& program, QStringList arguments)
{
    const QString executable = QStandardPaths::findExecutable(program);
    if (executable.isEmpty())
        return QStringLiteral("%1 is not installed").arg(program);
    QProcess process;
    arguments << CommittedTemplatePath();
    process.start(executable, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("%1 did not finish").arg(program);
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString WithoutParagraphMarks(QString text)
{
    return text.remove(QChar('\r'));
}

} // namespace

class LetterTemplateTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void containerIsACompoundFileWithTheWordStreams();
    void informationBlockMarksAWord97Template();
    void mainStoryCarriesThePlaceholdersInOrder();
    void mainStoryIsArrangedAsALetterWithASchedule();
    void documentHasNoOtherStoriesFieldsOrShapes();
    void laterPagesHaveTheFieldHeaderAndTheFirstPageNone();
    void oneSectionOnUsLetterWithTheMargins();
    void independentReadersFindThePlaceholders();
    void damagedContainersAreRejected();

private:
    QByteArray mBytes;
    std::unique_ptr<CompoundFile> mFile;
    std::unique_ptr<WordBinaryDocument> mDocument;
};

void LetterTemplateTest::initTestCase()
{
    mBytes = CommittedTemplateBytes();
    QVERIFY2(!mBytes.isEmpty(), qPrintable(CommittedTemplatePath()));
    mFile = std::make_unique<CompoundFile>(mBytes);
    mDocument = std::make_unique<WordBinaryDocument>(*mFile);
}

void LetterTemplateTest::containerIsACompoundFileWithTheWordStreams()
{
    QVERIFY(mBytes.startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
    QCOMPARE(mFile->MajorVersion(), quint16(3));
    QCOMPARE(mFile->SectorSize(), 512);
    QCOMPARE(mFile->MiniSectorSize(), 64);
    QCOMPARE(mFile->MiniStreamCutoff(), quint32(4096));
    QCOMPARE(mBytes.size() % 512, 0);

    const QStringList names = mFile->StreamNames();
    for (const QString& name : {QStringLiteral("WordDocument"), QStringLiteral("1Table"),
                                QStringLiteral("\x05SummaryInformation"),
                                QStringLiteral("\x05"
                                               "DocumentSummaryInformation"),
                                QStringLiteral("\x01"
                                               "CompObj")})
        QVERIFY2(names.contains(name), qPrintable(name.mid(1) + " missing from " + names.join(", ")));

    const QByteArray compObj = mFile->Stream(QStringLiteral("\x01"
                                                            "CompObj"));
    QVERIFY(compObj.contains("MSWordDoc"));
    QVERIFY(compObj.contains("Word.Document.8"));
}

void LetterTemplateTest::informationBlockMarksAWord97Template()
{
    QCOMPARE(mDocument->Ident(), quint16(0xA5EC));
    QCOMPARE(mDocument->FormatNumber(), quint16(0x00C1));
    QVERIFY(mDocument->IsTemplate());
    QVERIFY(!mDocument->IsEncrypted());
    QCOMPARE(mDocument->TableStreamName(), QStringLiteral("1Table"));
    QCOMPARE(mDocument->Language(), quint16(0x0409));
}

void LetterTemplateTest::mainStoryCarriesThePlaceholdersInOrder()
{
    const QString story = mDocument->MainStory();
    QCOMPARE(BracketedTokens(story), ExpectedPlaceholders());
    // About five pages of text, not a stub and not a different document.
    QVERIFY2(story.size() > 5500 && story.size() < 7500, qPrintable(QString::number(story.size())));
}

void LetterTemplateTest::mainStoryIsArrangedAsALetterWithASchedule()
{
    const QString story = mDocument->MainStory();
    // Paragraphs end with 0x0D, table cells and rows with 0x07.
    static const QRegularExpression ends(QStringLiteral("[\\r\\x07]"));
    const QStringList paragraphs = story.split(ends);

    const QStringList top = paragraphs.mid(0, 9);
    QCOMPARE(top, QStringList({"[YourName]", "[StreetAddress]", "[City], [ST] [ZIPCode]", "[CurrentDate]",
                               "[RecipientName]", "[Title]", "[CompanyName]", "[StreetAddress2]",
                               "[City2], [ST2] [ZIPCode2]"}));

    int salutation = -1;
    for (int i = 9; i < paragraphs.size() && salutation < 0; ++i)
        if (paragraphs[i].contains(QStringLiteral("[RecipientName]")))
            salutation = i;
    QVERIFY(salutation > 0);
    QVERIFY(paragraphs[salutation].startsWith(QStringLiteral("Dear ")));

    const int signature = int(paragraphs.indexOf(QStringLiteral("[YourName]"), 1));
    QVERIFY(signature > salutation);
    QCOMPARE(paragraphs.value(signature + 1), QStringLiteral("[YourTitle]"));

    // The schedule sheet heading: one paragraph, three lines joined by manual line breaks,
    // two spaces before the ZIP code.
    const QString heading = QStringLiteral("[COMPANYNAME]\x0b[STREETADDRESS2]\x0b[CITY2], [ST2]  [ZIPCode2]");
    const int sheet = int(paragraphs.indexOf(heading));
    QVERIFY2(sheet > signature, "schedule heading not found after the signature");

    // Between the signature and the sheet lies the response table, without tags; the
    // schedule table after the heading holds the date and the recipient as cells.
    const QString beforeSheet = story.left(story.indexOf(heading));
    const QString response = beforeSheet.mid(beforeSheet.indexOf(QStringLiteral("[YourTitle]")));
    QVERIFY(response.contains(QChar(0x07)));
    QCOMPARE(BracketedTokens(response), QStringList({"[YourTitle]"}));
    const QString afterSheet = story.mid(story.indexOf(heading) + heading.size());
    QVERIFY(afterSheet.contains(QStringLiteral("[CurrentDate]\x07")));
    QVERIFY(afterSheet.contains(QStringLiteral("[RecipientName]\x07")));
}

void LetterTemplateTest::documentHasNoOtherStoriesFieldsOrShapes()
{
    const auto lengths = mDocument->Lengths();
    QCOMPARE(lengths.footnotes, 0);
    QCOMPARE(lengths.comments, 0);
    QCOMPARE(lengths.endnotes, 0);
    QCOMPARE(lengths.textboxes, 0);
    QCOMPARE(lengths.headerTextboxes, 0);
    QCOMPARE(mDocument->MainShapeTableLength(), quint32(0));
    QCOMPARE(mDocument->HeaderShapeTableLength(), quint32(0));
    QVERIFY(mDocument->MainFieldTypes().isEmpty());
    QVERIFY(!mDocument->MainStory().contains(QChar(0x13)));
}

void LetterTemplateTest::laterPagesHaveTheFieldHeaderAndTheFirstPageNone()
{
    const QString header = mDocument->HeaderStory(0, WordBinaryDocument::OddHeader);
    const QStringList lines = header.split(QChar('\r'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("\x13 MACROBUTTON DoFieldClick [Recipient Name]\x14[Recipient Name]\x15"));
    QVERIFY2(lines[1].startsWith(QStringLiteral("\x13 CREATEDATE \\@ \"MMMM d, yyyy\" \x14")), qPrintable(lines[1]));
    QVERIFY(lines[1].endsWith(QChar(0x15)));
    QVERIFY2(lines[2].startsWith(QStringLiteral("Page \x13 PAGE \x14")), qPrintable(lines[2]));
    QCOMPARE(mDocument->HeaderFieldTypes(), QList<int>({kMacroButtonField, kCreateDateField, kPageField}));
    // The display text has a space, so no field tag matches it.
    for (const QString& token : BracketedTokens(header))
        QCOMPARE(token, QStringLiteral("[Recipient Name]"));

    for (auto role : {WordBinaryDocument::FirstHeader, WordBinaryDocument::FirstFooter,
                      WordBinaryDocument::OddFooter, WordBinaryDocument::EvenHeader,
                      WordBinaryDocument::EvenFooter})
        QVERIFY2(WithoutParagraphMarks(mDocument->HeaderStory(0, role)).isEmpty(),
                 qPrintable(QStringLiteral("story %1 has text").arg(int(role))));
}

void LetterTemplateTest::oneSectionOnUsLetterWithTheMargins()
{
    const auto sections = mDocument->Sections();
    QCOMPARE(sections.size(), 1);
    const auto& section = sections.first();
    QVERIFY(section.endCp >= mDocument->Lengths().main);
    // Where a property is absent Word uses its default, which is what these fall back to.
    QCOMPARE(section.Value(kPageWidth, 12240), 12240);
    QCOMPARE(section.Value(kPageHeight, 15840), 15840);
    QCOMPARE(section.Value(kLeftMargin, 1800), 1800);
    QCOMPARE(section.Value(kRightMargin, 1800), 1800);
    QCOMPARE(section.Value(kTopMargin, 1440), 1440);
    QCOMPARE(section.Value(kBottomMargin, 1440), 1440);
    QCOMPARE(section.Value(kHeaderDistance, 720), 720);
    QCOMPARE(section.Value(kFooterDistance, 720), 720);
    QCOMPARE(section.Value(kTitlePage, 0), 1);
}

void LetterTemplateTest::independentReadersFindThePlaceholders()
{
    const QString antiword = ReaderOutput(QStringLiteral("antiword"), {});
    QCOMPARE(BracketedTokens(antiword), ExpectedPlaceholders());

    // catdoc prints the header after the main story: the main story's placeholders, then
    // only the macro button's display text.
    const QString catdoc = ReaderOutput(QStringLiteral("catdoc"), {QStringLiteral("-d"), QStringLiteral("utf-8")});
    const QStringList tokens = BracketedTokens(catdoc);
    QCOMPARE(tokens.mid(0, 23), ExpectedPlaceholders());
    QVERIFY(tokens.size() > 23);
    for (const QString& token : tokens.mid(23))
        QCOMPARE(token, QStringLiteral("[Recipient Name]"));
    QVERIFY(catdoc.contains(QStringLiteral("MACROBUTTON DoFieldClick [Recipient Name]")));
}

void LetterTemplateTest::damagedContainersAreRejected()
{
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, CompoundFile{mBytes.left(4000)});
    QByteArray wrongSignature = mBytes;
    wrongSignature[0] = 'X';
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, CompoundFile{wrongSignature});
    // Point the directory's first sector at itself in the allocation table.
    QByteArray loop = mBytes;
    const quint32 directoryStart = ReadU32(mBytes, 48);
    const quint32 firstFatSector = ReadU32(mBytes, 76);
    QVERIFY(directoryStart < 128);
    const qint64 entry = 512 + qint64(firstFatSector) * 512 + 4 * qint64(directoryStart);
    for (int i = 0; i < 4; ++i)
        loop[entry + i] = char((directoryStart >> (8 * i)) & 0xFF);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, CompoundFile{loop});
}

QTEST_GUILESS_MAIN(LetterTemplateTest)
#include "test_letter_template.moc"
