// The LibreOffice engine end to end: a real headless office opens, searches, replaces,
// saves and renders; the produced .doc files are read back with antiword and catdoc.
// After every test no office process of this test is left and its private folders are gone.

#include "core/AppError.h"
#include "files/FileDescriptor.h"
#include "generation/PageSnapshot.h"
#include "generation/WordCheck.h"
#include "office/LibreOfficeFactory.h"
#include "office/LibreOfficeProcess.h"
#include "office/OfficeSandbox.h"
#include "process/TerminationSignals.h"
#include "support/ChildProcesses.h"
#include "support/CompoundFile.h"
#include "support/DocumentText.h"
#include "support/FakeDialogs.h"
#include "support/OtherUser.h"
#include "support/WordBinaryDocument.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A letter-sized document with tags in the main text, a table, a footnote, a header, a text
// frame and a drawing shape, and a second page.
const char FixtureXml[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
  xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
  xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
  xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
  xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
  xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
  xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
  office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles>
  <style:style style:name="Break" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style>
  <style:page-layout style:name="Letter"><style:page-layout-properties fo:page-width="8.5in" fo:page-height="11in"
    fo:margin-top="1in" fo:margin-bottom="1in" fo:margin-left="1in" fo:margin-right="1in"/><style:header-style/></style:page-layout>
 </office:automatic-styles>
 <office:master-styles>
  <style:master-page style:name="Standard" style:page-layout-name="Letter">
   <style:header><text:p>Header of [YourName] and [Only]</text:p></style:header>
  </style:master-page>
 </office:master-styles>
 <office:body>
  <office:text>
   <text:p>Dear [YourName], welcome to [COMPANYNAME] in [City].<text:note text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>Footnote on [City]</text:p></text:note-body></text:note></text:p>
   <text:p>Body keeps [Only] here.</text:p>
   <table:table table:name="Schedule">
    <table:table-column table:number-columns-repeated="2"/>
    <table:table-row>
     <table:table-cell office:value-type="string"><text:p>Cell of [City]</text:p></table:table-cell>
     <table:table-cell office:value-type="string"><text:p>Cell of [CompanyName]</text:p></table:table-cell>
    </table:table-row>
   </table:table>
   <text:p><draw:frame draw:name="Box" text:anchor-type="paragraph" svg:width="3in" svg:height="1in"><draw:text-box><text:p>Frame of [City]</text:p></draw:text-box></draw:frame>After the frame.</text:p>
   <text:p><draw:rect draw:name="Shape" text:anchor-type="paragraph" svg:x="0in" svg:y="0.5in" svg:width="3in" svg:height="1in"><text:p>Shape of [YourName]</text:p></draw:rect>After the shape.</text:p>
   <text:p text:style-name="Break">Second page for [YourName].</text:p>
  </office:text>
 </office:body>
</office:document>
)";

// A loopback port that closes every connection at once: whether anything connected tells
// whether the office reached for the network.
class Beacon {
public:
    Beacon()
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(mSocket.Get(), reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(mSocket.Get(), 8) == 0
            && ::getsockname(mSocket.Get(), reinterpret_cast<sockaddr*>(&address), &size) == 0)
            mPort = ntohs(address.sin_port);
        mServer = std::thread([this] {
            for (int connection; (connection = ::accept4(mSocket.Get(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                ++mReached;
                ::close(connection);
            }
        });
    }
    ~Beacon()
    {
        ::shutdown(mSocket.Get(), SHUT_RDWR);
        mServer.join();
    }
    int Port() const { return mPort; }
    int Reached() const { return mReached; }

private:
    FileDescriptor mSocket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int mPort = 0;
    std::atomic<int> mReached = 0;
    std::thread mServer;
};

// A text whose two pictures are linked, not embedded: one from another folder of the
// user's, one from the network.
QByteArray LinkedPicturesXml(const QString& file, int port)
{
    const QString picture = QStringLiteral("<text:p><draw:frame draw:name=\"%1\" text:anchor-type=\"as-char\" svg:width=\"1in\" "
                                           "svg:height=\"1in\"><draw:image xlink:href=\"%2\" xlink:type=\"simple\"/></draw:frame></text:p>");
    return (QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document "
                           "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                           "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
                           "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
                           "xmlns:xlink=\"http:/") + QStringLiteral("/www.w3.org/1999/xlink\" office:version=\"1.3\" "
                           "office:mimetype=\"application/vnd.oasis.opendocument.text\"><office:body><office:text>")
            + picture.arg(QStringLiteral("Private"), QUrl::fromLocalFile(file).toString())
            + picture.arg(QStringLiteral("Remote"), QStringLiteral("http:/") + QStringLiteral("/127.0.0.1:%1/beacon.png").arg(port))
            + QStringLiteral("<text:p>Dear [YourName]</text:p></office:text></office:body></office:document>"))
        .toUtf8();
}

// Every character that some replace engine treats specially, and the tag itself.
const QString SpecialName = QStringLiteral("A&B $1 \\n ^p ^& \\\\ [YourName]");

QString Output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The main text, tables, footnotes, frames and shapes of a .doc file.
QString BodyText(const QString& path)
{
    return Output(QStringLiteral("antiword"), {QStringLiteral("-m"), QStringLiteral("UTF-8.txt"), QStringLiteral("-w"), QStringLiteral("0"), path});
}

// The running text of a .doc file, headers included (catdoc leaves out table cells).
QString RunningText(const QString& path)
{
    return Output(QStringLiteral("catdoc"), {QStringLiteral("-w"), QStringLiteral("-d"), QStringLiteral("utf-8"), path});
}

// The processes descended from this test, as "pid name state".
QStringList Children()
{
    QStringList children;
    for (const ChildProcess& child : ChildProcesses())
        children << QStringLiteral("%1 %2 %3").arg(child.pid).arg(child.name, child.state);
    return children;
}

// The office processes among them.
QStringList Offices()
{
    return Children().filter(QRegularExpression(QStringLiteral("^\\d+ soffice.bin ")));
}

void ReplaceAll(const std::shared_ptr<Word::Range>& range, const QString& tag, const QString& text)
{
    // The settings the generation run makes, through the range's persistent Find object.
    range->Find()->ClearFormatting();
    range->Find()->Replacement()->ClearFormatting();
    const auto find = range->Find();
    find->SetText(tag);
    find->Replacement()->SetText(text);
    find->SetForward(true);
    find->SetWrap(Word::wdFindContinue);
    find->SetFormat(false);
    find->SetMatchCase(false);
    find->SetMatchWholeWord(false);
    find->SetMatchWildcards(false);
    find->SetMatchSoundsLike(false);
    find->SetMatchAllWordForms(false);
    Word::ExecuteArguments arguments;
    arguments.Replace = Word::wdReplaceAll;
    range->Find()->Execute(arguments);
}

Word::ExecuteArguments Arguments(const QString& find, std::optional<QString> replaceWith = std::nullopt,
                                 std::optional<int> replace = std::nullopt)
{
    return Word::ExecuteArguments{find, std::move(replaceWith), replace};
}

}

class EngineOfficeTest : public QObject {
    Q_OBJECT

public:
    // Before anything starts an office: a write to an office that has just ended fails as
    // an error, as in the application.
    static void initMain() { IgnoreBrokenPipes(); }

private:
    QTemporaryDir mScratch;
    QString mTemp;    // TEMP: the working files
    QString mPrivate; // where the engine makes its private folders: the scratch folder, private and the test's own
    QString mFixture;
    // Limits far above what any call here takes, on however loaded a machine: these tests
    // are about what the office does; how fast it does it is measured in bench/.
    LibreOfficeFactory mWord{OfficeTimeouts{std::chrono::minutes(2), std::chrono::minutes(2), std::chrono::minutes(5),
                                            std::chrono::minutes(5)},
                              mScratch.path()};

    QString Path(const QString& name) const { return QDir(mScratch.path()).filePath(name); }

    QStringList PrivateFolders() const
    {
        return QDir(mPrivate).entryList({QStringLiteral("inkhaven-office-*")}, QDir::AllEntries | QDir::Hidden);
    }

    // The fixture opened read-only in a new office.
    std::pair<std::shared_ptr<Word::Application>, std::shared_ptr<Word::Document>> OpenFixture()
    {
        auto application = mWord.CreateApplication();
        auto document = application->Documents()->Open(mFixture, true);
        return {application, document};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mScratch.isValid());
        mTemp = Path(QStringLiteral("temp"));
        mPrivate = mScratch.path();
        QVERIFY(QDir().mkpath(mTemp));
        // A TEMP of the user's own that no one else may enter: the working files go there.
        QVERIFY(QFile::setPermissions(mTemp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        qputenv("TEMP", QFile::encodeName(mTemp));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(Path(QStringLiteral("cache"))));

        // The fixture is made by the engine itself, from its flat ODF source.
        const QString source = Path(QStringLiteral("fixture.fodt"));
        QFile xml(source);
        QVERIFY(xml.open(QIODevice::WriteOnly));
        xml.write(FixtureXml);
        xml.close();
        mFixture = Path(QStringLiteral("fixture.doc"));
        const auto application = mWord.CreateApplication();
        const auto document = application->Documents()->Open(source, true);
        document->SaveAs(mFixture);
        document->Close();
        application->Quit();

        const QString body = BodyText(mFixture);
        QVERIFY2(body.contains(QStringLiteral("Dear [YourName], welcome to [COMPANYNAME] in [City].")), qPrintable(body));
        QVERIFY2(body.contains(QStringLiteral("Cell of [City]")), qPrintable(body));
        QVERIFY2(RunningText(mFixture).contains(QStringLiteral("Header of [YourName] and [Only]")), qPrintable(RunningText(mFixture)));
    }

    void cleanup()
    {
        mWord.WaitForEndedOffices();
        QCOMPARE(Children(), QStringList());
        QCOMPARE(PrivateFolders(), QStringList());
    }

    // Every story and every shape: case ignored, special characters literal, a replacement
    // that holds its own tag replaced once and not searched again.
    void replacesInEveryStoryAndShape()
    {
        auto [application, document] = OpenFixture();
        const auto stories = document->StoryRanges();
        QCOMPARE(stories->Count(), 4); // main text, footnote, header, frame
        const QList<std::pair<QString, QString>> fields = {{QStringLiteral("[YourName]"), SpecialName},
                                                           {QStringLiteral("[CompanyName]"), QStringLiteral("Acme")},
                                                           {QStringLiteral("[City]"), QStringLiteral("Paris")}};
        for (const auto& [tag, text] : fields)
            for (int i = 0; i < stories->Count(); ++i)
                ReplaceAll(stories->Item(i), tag, text);
        const auto shapes = document->Shapes();
        QCOMPARE(shapes->Count(), 1);
        QVERIFY(shapes->Item(0)->TextFrame()->HasText());
        for (const auto& [tag, text] : fields)
            shapes->Item(0)->TextFrame()->TextRange()->Find()->Execute(Arguments(tag, text, Word::wdReplaceAll));
        const QString saved = Path(QStringLiteral("replaced #1 ü%20.doc"));
        document->SaveAs(saved);
        document->Close();
        application->Quit();

        const QString body = BodyText(saved);
        const QString running = RunningText(saved);
        for (const QString& expected : {QStringLiteral("Dear ") + SpecialName + QStringLiteral(", welcome to Acme in Paris."),
                                        QStringLiteral("Cell of Paris"), QStringLiteral("Cell of Acme"),
                                        QStringLiteral("Footnote on Paris"), QStringLiteral("Frame of Paris"),
                                        QStringLiteral("Shape of ") + SpecialName,
                                        QStringLiteral("Second page for ") + SpecialName})
            QVERIFY2(body.contains(expected), qPrintable(expected + QStringLiteral("\nnot in\n") + body));
        QVERIFY2(running.contains(QStringLiteral("Header of ") + SpecialName + QStringLiteral(" and [Only]")), qPrintable(running));
        for (const QString& text : {body, running}) {
            QVERIFY(!text.contains(QStringLiteral("[City]"), Qt::CaseInsensitive));
            QVERIFY(!text.contains(QStringLiteral("[CompanyName]"), Qt::CaseInsensitive));
            // Each tag became the text once: every remaining tag is the one inside it.
            QVERIFY(text.count(QStringLiteral("[YourName]")) > 0);
            QCOMPARE(text.count(QStringLiteral("[YourName]")), text.count(SpecialName));
        }
        QCOMPARE(body.count(SpecialName), 3); // greeting, second page, shape
    }

    // The listing of the stories is kept between calls, but a header or footer that a
    // replacement empties is no longer listed, as a fresh listing would not list it.
    void emptiedHeaderLeavesTheListing()
    {
        auto [application, document] = OpenFixture();
        const auto before = document->StoryRanges();
        QCOMPARE(before->Count(), 4);
        const auto header = before->Item(2);
        QVERIFY(!header->Find()->Execute(Arguments(QStringLiteral("Footnote on [City]"))));
        ReplaceAll(before->Item(0), QStringLiteral("[Only]"), QString());
        QCOMPARE(document->StoryRanges()->Count(), 4);
        QVERIFY(header->Find()->Execute(Arguments(QStringLiteral("Header of [YourName] and [Only]"), QString(), Word::wdReplaceAll)));
        const auto after = document->StoryRanges();
        QCOMPARE(after->Count(), 3);
        QVERIFY(after->Item(1)->Find()->Execute(Arguments(QStringLiteral("footnote on [city]"))));
        QVERIFY(after->Item(2)->Find()->Execute(Arguments(QStringLiteral("Frame of [City]"))));
        application->Quit();
    }

    // A story's search sees its own text only; the Find object keeps its settings; the
    // result tells whether anything was found.
    void eachStorySearchesItsOwnText()
    {
        auto [application, document] = OpenFixture();
        const auto main = document->StoryRanges()->Item(0);
        const auto find = main->Find();
        find->SetText(QStringLiteral("[only]"));
        find->Replacement()->SetText(QStringLiteral("Kept"));
        QVERIFY(main->Find()->Execute(Arguments(QStringLiteral("[ONLY]"))));          // found, nothing replaced
        QVERIFY(main->Find()->Execute({std::nullopt, std::nullopt, Word::wdReplaceAll})); // the kept settings
        QVERIFY(!main->Find()->Execute({std::nullopt, std::nullopt, Word::wdReplaceAll}));
        QVERIFY(!document->Range()->Find()->Execute(Arguments(QStringLiteral("Frame of"))));
        QVERIFY(!document->Range()->Find()->Execute(Arguments(QStringLiteral("Header of"))));

        find->SetMatchCase(true);
        QVERIFY(!main->Find()->Execute(Arguments(QStringLiteral("[companyname]"), QStringLiteral("x"), Word::wdReplaceAll)));
        find->SetMatchWildcards(true);
        QVERIFY_THROWS_EXCEPTION(AppError, main->Find()->Execute(Arguments(QStringLiteral("[YourName]"))));

        const QString saved = Path(QStringLiteral("own-story.doc"));
        document->SaveAs(saved);
        application->Quit();
        QVERIFY(BodyText(saved).contains(QStringLiteral("Body keeps Kept here.")));
        QVERIFY(BodyText(saved).contains(QStringLiteral("[COMPANYNAME]")));
        QVERIFY(RunningText(saved).contains(QStringLiteral("Header of [YourName] and [Only]")));
    }

    // A replacement has no length limit. (The paragraph holds no footnote: the office lays
    // out a paragraph of hundreds of pages that ends in a footnote very slowly.)
    void megabyteReplacement()
    {
        auto [application, document] = OpenFixture();
        const QString text = QStringLiteral("MEGA-BEGIN") + QString(1 << 20, QLatin1Char('x')) + QStringLiteral("MEGA-END");
        QVERIFY(document->Range()->Find()->Execute(Arguments(QStringLiteral("[only]"), text, Word::wdReplaceAll)));
        QVERIFY(document->Range()->Find()->Execute(Arguments(QStringLiteral("keeps ") + text + QStringLiteral(" here."))));
        const QString saved = Path(QStringLiteral("megabyte.doc"));
        document->SaveAs(saved);
        application->Quit();

        const QString body = BodyText(saved);
        const qsizetype begin = body.indexOf(QStringLiteral("Body keeps MEGA-BEGIN"));
        QVERIFY(begin >= 0);
        QCOMPARE(body.indexOf(QStringLiteral("MEGA-END here.")) - begin, qsizetype(1 << 20) + 21);
    }

    // A document's linked pictures reach neither the user's other files nor the network
    // from the office's sandbox, not even a file beside the office's own folder in the
    // private folder: the PDF shows neither, and nothing connects to the port. Outside the
    // sandbox the office fetches both, which is what the sandbox is for.
    void sandboxKeepsLinksFromFilesAndNetwork()
    {
        if (!OfficeSandboxSupport().missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("No sandbox here: ") + OfficeSandboxSupport().missing));
        const QString secret = Path(QStringLiteral("secret.png"));
        QImage picture(64, 64, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(secret));
        const Beacon beacon;
        QVERIFY(beacon.Port() > 0);
        const QString source = Path(QStringLiteral("linked.fodt"));
        QFile xml(source);
        QVERIFY(xml.open(QIODevice::WriteOnly));
        xml.write(LinkedPicturesXml(secret, beacon.Port()));
        xml.close();

        const auto picturesIn = [&](LibreOfficeFactory& word) {
            const auto application = word.CreateApplication();
            const auto document = application->Documents()->Open(source, true);
            const QString pdf = Path(QStringLiteral("linked.pdf"));
            document->ExportAsFixedFormat(pdf);
            document->Close();
            application->Quit();
            return PdfimagesCount(pdf);
        };
        QCOMPARE(picturesIn(mWord), 0);
        QCOMPARE(beacon.Reached(), 0);

        LibreOfficeFactory unsandboxed({}, mScratch.path(), OfficeSandboxing::Off);
        QCOMPARE(picturesIn(unsandboxed), 1);
        QVERIFY(beacon.Reached() > 0);

        // An office keeps the user's umask: one outside a sandbox (as root, it writes the
        // machine's shared font and extension caches) must leave them as readable as ever.
        mWord.WaitForEndedOffices();
        unsandboxed.WaitForEndedOffices();
        const mode_t savedMask = ::umask(022);
        const auto restoreMask = qScopeGuard([savedMask] { ::umask(savedMask); });
        const auto application = unsandboxed.CreateApplication();
        const QStringList offices = Offices();
        QVERIFY(!offices.isEmpty());
        for (const QString& office : offices) {
            const QString status = QString::fromLatin1(FileBytes(QStringLiteral("/proc/%1/status").arg(office.section(QLatin1Char(' '), 0, 0))));
            QVERIFY2(status.contains(QLatin1String("\nUmask:\t0022\n")), qPrintable(office + QLatin1Char('\n') + status.left(300)));
        }
        application->Quit();
        unsandboxed.WaitForEndedOffices();
    }

    // The sandbox as the office sees it from inside: its installation, fonts and its own
    // folder are there; the system's other folders, the runtime folder, the private folder
    // around its own and the host's /sys are not, and its own folder is the one it writes.
    void sandboxShowsOnlyWhatAnOfficeNeeds()
    {
        if (!OfficeSandboxSupport().missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("No sandbox here: ") + OfficeSandboxSupport().missing));
        const QString office = Path(QStringLiteral("inkhaven-office-view"));
        QVERIFY(QDir().mkpath(office + QStringLiteral("/tmp")));
        const auto removeOffice = qScopeGuard([&] { QDir(office).removeRecursively(); });
        const QString beside = Path(QStringLiteral("beside.txt"));
        QFile besideFile(beside);
        QVERIFY(besideFile.open(QIODevice::WriteOnly) && besideFile.write("private") == 7);
        besideFile.close();
        const QString program = FindOfficeProgramFolder();
        const SandboxView view = OfficeSandboxView(office, program, QDir::homePath());
        const QStringList absent = {QStringLiteral("/srv"), QStringLiteral("/opt"), QStringLiteral("/run"), QStringLiteral("/var/tmp"),
                                    QStringLiteral("/var/lib"), QStringLiteral("/mnt"), QStringLiteral("/media"), QStringLiteral("/sys/kernel"),
                                    QStringLiteral("/etc/shadow"), QStringLiteral("/etc/hostname"), qEnvironmentVariable("XDG_RUNTIME_DIR"),
                                    QStringLiteral("/work"), beside, mTemp};
        const QStringList present = {QDir(program).filePath(QStringLiteral("soffice.bin")), QStringLiteral("/etc/fonts"),
                                     QStringLiteral("/usr/share/fonts"), office};
        QString script = QStringLiteral("for p in \"$@\"; do [ -e \"$p\" ] && echo \"seen $p\"; done; "
                                        "touch /tmp/written && echo wrote; touch /usr/written 2>/dev/null && echo wrote-usr; exit 0");
        QProcess probe;
        probe.start(OfficeSandboxSupport().program, SandboxArguments(view) + QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"), script,
                                                                                      QStringLiteral("sh")} + absent + present);
        QVERIFY(probe.waitForFinished(30000));
        const QString seen = QString::fromLocal8Bit(probe.readAllStandardOutput());
        QVERIFY2(probe.exitCode() == 0, qPrintable(QString::fromLocal8Bit(probe.readAllStandardError())));
        for (const QString& path : absent)
            QVERIFY2(!seen.contains(QStringLiteral("seen %1\n").arg(path)), qPrintable(path + QStringLiteral(" is seen: ") + seen));
        for (const QString& path : present)
            QVERIFY2(seen.contains(QStringLiteral("seen %1\n").arg(path)), qPrintable(path + QStringLiteral(" is not seen: ") + seen));
        QVERIFY2(seen.contains(QLatin1String("wrote\n")) && !seen.contains(QLatin1String("wrote-usr")), qPrintable(seen));
        QVERIFY(QFileInfo::exists(office + QStringLiteral("/tmp/written")));
    }

    // Another user finds no pipe of the office in the shared /tmp, and cannot reach the ones
    // in its private folder; the office serves on.
    void anotherUserReachesNoOffice()
    {
        const OtherUser other;
        if (!other.isValid())
            QSKIP(qPrintable(QStringLiteral("No other user: ") + other.reason()));
        if (!OfficeSandboxSupport().missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("No sandbox here: ") + OfficeSandboxSupport().missing));
        auto [application, document] = OpenFixture();
        QCOMPARE(PrivateFolders().size(), 1);
        const QDir pipes(mPrivate + QStringLiteral("/") + PrivateFolders().constFirst() + QStringLiteral("/tmp"));
        const QStringList names = pipes.entryList({QStringLiteral("OSL_PIPE_*")}, QDir::System);
        QCOMPARE(names.size(), 2); // the connection's and the single instance's
        // Each reached by a short link in the shared /tmp, as a socket's address must be short.
        std::vector<sockaddr_un> addresses;
        QStringList links;
        const auto removeLinks = qScopeGuard([&] {
            for (const QString& link : std::as_const(links))
                QFile::remove(link);
        });
        for (const QString& name : names) {
            QVERIFY2(!QFileInfo::exists(QStringLiteral("/tmp/") + name), qPrintable(name));
            links << QStringLiteral("/tmp/inkhaven-test-%1-%2").arg(::getpid()).arg(links.size());
            QVERIFY(QFile::link(pipes.filePath(name), links.last()));
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(links.last());
            std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
            addresses.push_back(address);
        }
        const pid_t child = ::fork();
        if (child == 0) {
            if (!other.become())
                ::_exit(2);
            for (const sockaddr_un& address : addresses) {
                const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                    ::_exit(1);
            }
            ::_exit(0);
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "another user reached the office, or could not become one");
        QVERIFY(document->StoryRanges()->Count() > 0);
    }

    void templateIsSavedAsADocument()
    {
        // A copy in the folder the office sees, wherever the source tree is.
        const QString letter = Path(QStringLiteral("letter.dot"));
        QFile::remove(letter);
        QVERIFY(QFile::copy(QStringLiteral(INKHAVEN_LETTER_TEMPLATE), letter));
        QFile source(letter);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray before = source.readAll();
        QVERIFY(WordBinaryDocument(CompoundFile(before)).IsTemplate());

        const auto application = mWord.CreateApplication();
        const auto document = application->Documents()->Open(letter, true);
        QVERIFY(document->StoryRanges()->Count() >= 2); // the main text and the letter's header
        const QString saved = Path(QStringLiteral("letter.doc"));
        document->SaveAs(saved);
        application->SetDisplayAlerts(false);
        document->Close();
        application->Quit();

        QFile result(saved);
        QVERIFY(result.open(QIODevice::ReadOnly));
        const WordBinaryDocument word(CompoundFile(result.readAll()));
        QVERIFY(!word.IsTemplate());
        QCOMPARE(word.Ident(), quint16(0xA5EC));
        QVERIFY(word.MainStory().contains(QStringLiteral("[RecipientName]")));
        source.seek(0);
        QCOMPARE(source.readAll(), before);
    }

    // The snapshot of a two-page document: one US Letter page after the other at 96 dpi,
    // written to TEMP/temp.bmp and left on the clipboard; the document itself untouched.
    void snapshotRendersEveryPage()
    {
        const QString working = QDir(mTemp).filePath(QStringLiteral("varnel11111111.doc"));
        QFile::remove(working);
        QVERIFY(QFile::copy(mFixture, working));
        const QDateTime modified = QFileInfo(working).lastModified();
        QImage users(50, 50, QImage::Format_RGB32);
        users.fill(Qt::red);
        QGuiApplication::clipboard()->setImage(users);
        FakeDialogs dialogs;

        TakePageSnapshot(working, mWord, dialogs, {});

        QCOMPARE(dialogs.ErrorReports(), QStringList());
        const QImage snapshot(QDir(mTemp).filePath(QStringLiteral("temp.bmp")), "BMP");
        QCOMPARE(snapshot.size(), QSize(816, 2 * 1056));
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
                 snapshot.convertToFormat(QImage::Format_RGB32));
        // Text on both pages: the first lines start one inch from the top left.
        for (int page = 0; page < 2; ++page) {
            int dark = 0;
            for (int y = page * 1056 + 96; y < page * 1056 + 200; ++y)
                for (int x = 96; x < 400; ++x)
                    dark += qGray(snapshot.pixel(x, y)) < 128;
            QVERIFY2(dark > 100, qPrintable(QStringLiteral("page %1 looks blank").arg(page + 1)));
        }
        QCOMPARE(QFileInfo(working).lastModified(), modified);
        QFile original(mFixture), copy(working);
        QVERIFY(original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), original.readAll());
        QCOMPARE(QDir(mTemp).entryList(QDir::Files | QDir::Hidden),
                 QStringList({QStringLiteral("temp.bmp"), QStringLiteral("varnel11111111.doc")}));
    }

    // No office to be found: creation fails with a description that says so, the check
    // tells the user, and the snapshot reports its steps.
    void withoutOfficeCreationFailsClearly()
    {
        const QByteArray unoPath = qgetenv("UNO_PATH");
        const QByteArray path = qgetenv("PATH");
        const QString empty = Path(QStringLiteral("empty"));
        QVERIFY(QDir().mkpath(empty));
        qputenv("UNO_PATH", QFile::encodeName(empty));
        qputenv("PATH", "");
        const auto restore = qScopeGuard([&] {
            if (unoPath.isNull())
                qunsetenv("UNO_PATH");
            else
                qputenv("UNO_PATH", unoPath);
            qputenv("PATH", path);
        });

        for (bool viaPath : {false, true}) {
            if (viaPath)
                qunsetenv("UNO_PATH");
            try {
                mWord.CreateApplication();
                QFAIL("an office was created");
            } catch (const AppError& e) {
                QVERIFY2(e.Description().startsWith(QStringLiteral("The office engine (LibreOffice) could not be started: ")),
                         qPrintable(e.Description()));
            }
        }

        FakeDialogs check;
        CheckWordInstalled(mWord, check);
        QCOMPARE(check.shown.size(), 1);
        // The message as it is, then what failed, so the user knows what to install.
        QCOMPARE(check.shown[0].text, QLatin1String(WordMissingMessage)
                     + QStringLiteral("\r\n\r\nThe office engine (LibreOffice) could not be started: LibreOffice Writer was "
                                      "not found. Install it (the package libreoffice-writer), or set UNO_PATH to its "
                                      "program folder."));
        QCOMPARE(check.shown[0].caption, QLatin1String(ApplicationTitle));

        FakeDialogs snapshot;
        TakePageSnapshot(mFixture, mWord, snapshot, {});
        QCOMPARE(snapshot.FailedSteps(), QList<int>({116, 118, 120, 122, 124, 126}));
    }

    void checkWithOfficeShowsNothing()
    {
        FakeDialogs dialogs;
        CheckWordInstalled(mWord, dialogs);
        QCOMPARE(dialogs.shown.size(), 0);
    }

    // The profile the first office set up is kept in the user's cache and copied for later
    // offices, which then start without setting up a profile of their own.
    void setUpProfileIsReused()
    {
        const QString seed = Path(QStringLiteral("cache/Kestrelworks/Inkhaven/office-profile"));
        QVERIFY(QFileInfo::exists(seed + QStringLiteral("/user/registrymodifications.xcu")));
        QFile marker(seed + QStringLiteral("/user/seed-marker"));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        auto [application, document] = OpenFixture();
        QCOMPARE(PrivateFolders().size(), 1);
        QVERIFY(QFileInfo::exists(mPrivate + QLatin1Char('/') + PrivateFolders().constFirst()
                                  + QStringLiteral("/profile/user/seed-marker")));
        QVERIFY(document->StoryRanges()->Count() > 0);
        QVERIFY(marker.remove());
    }

    // Offices wind down after Quit returns, but none outlives its factory: the factory's end
    // waits for every office quit or released, and for their private folders to go.
    void factoryEndsOnlyOnceItsOfficesHaveEnded()
    {
        {
            LibreOfficeFactory word({}, mScratch.path());
            auto quit = word.CreateApplication();
            auto released = word.CreateApplication();
            quit->Documents()->Open(mFixture, true);
            QCOMPARE(Offices().size(), 2);
            quit->Quit();
            QVERIFY_THROWS_EXCEPTION(AppError, quit->Documents());
            released.reset();
        }
        QCOMPARE(Children(), QStringList());
        QCOMPARE(PrivateFolders(), QStringList());
    }

    // An application that is never quit still ends its office when it is released, and what
    // was obtained from it then fails with a description.
    void abandonedApplicationEndsItsOffice()
    {
        auto [application, document] = OpenFixture();
        QCOMPARE(Offices().size(), 1);
        QCOMPARE(PrivateFolders().size(), 1);
        application.reset();
        mWord.WaitForEndedOffices();
        QCOMPARE(Children(), QStringList());
        QCOMPARE(PrivateFolders(), QStringList());
        try {
            document->StoryRanges();
            QFAIL("a document of an ended office answered");
        } catch (const AppError& e) {
            QVERIFY2(e.Description().contains(QStringLiteral("LibreOffice")), qPrintable(e.Description()));
        }
    }

    void failuresAreDescribed()
    {
        auto [application, document] = OpenFixture();
        const QString missing = Path(QStringLiteral("missing.doc"));
        try {
            application->Documents()->Open(missing);
            QFAIL("a missing file was opened");
        } catch (const AppError& e) {
            QVERIFY2(e.Description().contains(missing), qPrintable(e.Description()));
        }
        try {
            document->SaveAs(mFixture + QStringLiteral("/saved.doc"));
            QFAIL("saved into a file as if it were a folder");
        } catch (const AppError& e) {
            QVERIFY2(e.Description().startsWith(QStringLiteral("The document could not be saved as")), qPrintable(e.Description()));
        }

        // The office dies under the application.
        const QStringList children = Offices();
        QCOMPARE(children.size(), 1);
        const pid_t office = children[0].section(QLatin1Char(' '), 0, 0).toInt();
        QCOMPARE(::kill(office, SIGKILL), 0);
        // It is reaped as it ends, before anything asks for it: no zombie is left waiting.
        QTRY_COMPARE(Children(), QStringList());
        // The bridge may notice the closed connection before the process can be reaped:
        // either description tells the user what happened.
        try {
            document->StoryRanges();
            QFAIL("a killed office answered");
        } catch (const AppError& e) {
            QVERIFY2(e.Description().startsWith(QStringLiteral("The office engine (LibreOffice) stopped unexpectedly"))
                         || e.Description() == QStringLiteral("The connection to the office engine (LibreOffice) was lost."),
                     qPrintable(e.Description()));
        }
        QVERIFY_THROWS_EXCEPTION(AppError, application->Quit());
        mWord.WaitForEndedOffices();
        QVERIFY_THROWS_EXCEPTION(AppError, application->Quit());
        QVERIFY_THROWS_EXCEPTION(AppError, application->ActiveDocument());
    }
};

QTEST_MAIN(EngineOfficeTest)
#include "test_engine_office.moc"
