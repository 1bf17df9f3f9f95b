// The committed letter template as the office engine lays it out: converted to PDF by a
// headless LibreOffice with a profile of its own, then read page by page with Poppler.

#include "LetterExpectations.h"
#include "support/PageRendering.h"

#include <poppler-qt6.h>

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

constexpr double kPageWidth = 612.0;   // 8.5 in in points
constexpr double kPageHeight = 792.0;  // 11 in
constexpr double kSideMargin = 90.0;   // 1800 twips
constexpr double kTopMargin = 72.0;    // 1440 twips
constexpr double kHeaderTop = 36.0;    // 720 twips
constexpr double kTolerance = 1.0;

} // namespace

class LetterRenderingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void fivePagesOfUsLetter();
    void firstPageHasNoHeader();
    void laterPagesShowRecipientDateAndPageNumber();
    void textStaysInsideTheMargins();
    void sectionsStartOnTheirOwnPages();

private:
    QString HeaderText(int page) const;
    QString BodyText(int page) const;

    QTemporaryDir mFolder;
    std::unique_ptr<Poppler::Document> mPdf;
};

void LetterRenderingTest::initTestCase()
{
    QVERIFY(mFolder.isValid());
    const QString input = mFolder.filePath(QStringLiteral("letter.dot"));
    QVERIFY(QFile::copy(CommittedTemplatePath(), input));
    const QString pdf = ConvertToPdf(input, mFolder.path());
    QVERIFY2(!pdf.startsWith(QLatin1Char('<')), qPrintable(pdf));
    mPdf = Poppler::Document::load(pdf);
    QVERIFY(mPdf);
}

QString LetterRenderingTest::HeaderText(int page) const
{
    return mPdf->page(page)->text(QRectF(0, 0, kPageWidth, kTopMargin));
}

QString LetterRenderingTest::BodyText(int page) const
{
    return mPdf->page(page)->text(QRectF(0, kTopMargin, kPageWidth, kPageHeight - kTopMargin));
}

void LetterRenderingTest::fivePagesOfUsLetter()
{
    QCOMPARE(mPdf->numPages(), 5);
    for (int i = 0; i < mPdf->numPages(); ++i) {
        const QSizeF size = mPdf->page(i)->pageSizeF();
        QCOMPARE(qRound(size.width()), int(kPageWidth));
        QCOMPARE(qRound(size.height()), int(kPageHeight));
    }
}

void LetterRenderingTest::firstPageHasNoHeader()
{
    QCOMPARE(HeaderText(0).simplified(), QString());
    QVERIFY(BodyText(0).simplified().startsWith(QStringLiteral("[YourName] [StreetAddress] [City], [ST] [ZIPCode]")));
}

void LetterRenderingTest::laterPagesShowRecipientDateAndPageNumber()
{
    static const QRegularExpression longDate(QStringLiteral("\\b[A-Z][a-z]+ \\d{1,2}, \\d{4}\\b"));
    for (int i = 1; i < mPdf->numPages(); ++i) {
        const QString header = HeaderText(i).simplified();
        QVERIFY2(header.startsWith(QStringLiteral("[Recipient Name]")), qPrintable(header));
        QVERIFY2(longDate.match(header).hasMatch(), qPrintable(header));
        QVERIFY2(header.endsWith(QStringLiteral("Page %1").arg(i + 1)), qPrintable(header));
        QVERIFY(!BodyText(i).contains(QStringLiteral("[Recipient Name]")));
    }
}

void LetterRenderingTest::textStaysInsideTheMargins()
{
    for (int i = 0; i < mPdf->numPages(); ++i) {
        const auto boxes = mPdf->page(i)->textList();
        QVERIFY(!boxes.empty());
        for (const auto& box : boxes) {
            const QRectF r = box->boundingBox();
            const QString where = QStringLiteral("page %1: \"%2\" at %3,%4 to %5,%6")
                                      .arg(i + 1).arg(box->text()).arg(r.left()).arg(r.top())
                                      .arg(r.right()).arg(r.bottom());
            QVERIFY2(r.left() >= kSideMargin - kTolerance, qPrintable(where));
            QVERIFY2(r.right() <= kPageWidth - kSideMargin + kTolerance, qPrintable(where));
            QVERIFY2(r.top() >= kHeaderTop - kTolerance, qPrintable(where));
            QVERIFY2(r.bottom() <= kPageHeight - kTopMargin + kTolerance, qPrintable(where));
            if (i == 0)
                QVERIFY2(r.top() >= kTopMargin - kTolerance, qPrintable(where));
        }
    }
}

void LetterRenderingTest::sectionsStartOnTheirOwnPages()
{
    QVERIFY(BodyText(1).contains(QStringLiteral("[YourTitle]")));
    QVERIFY(BodyText(2).simplified().startsWith(QStringLiteral("RESPONSE FORM")));
    QVERIFY(BodyText(3).simplified().startsWith(QStringLiteral("[COMPANYNAME] [STREETADDRESS2] [CITY2], [ST2] [ZIPCode2]")));
    QVERIFY(BodyText(3).contains(QStringLiteral("[CurrentDate]")));
    QVERIFY(BodyText(3).contains(QStringLiteral("[RecipientName]")));
}

QTEST_GUILESS_MAIN(LetterRenderingTest)
#include "test_letter_rendering.moc"
