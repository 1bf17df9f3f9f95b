// The error report, guarded procedures and the settings store.
#include "core/AppError.h"
#include "core/ErrorReport.h"
#include "core/GuardedProcedure.h"
#include "files/SettingsStore.h"
#include "support/FakeDialogs.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <sys/stat.h>

class CommonTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void errorReportText();
    void guardedProcedureGoesOnAfterFailingStep();
    void forEachHeadFailureRunsBodyOnceWithNothing();
    void forEachNextFailureLeavesLoop();
    void conditionFailureEntersBody();
    void describesForeignExceptions();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void settingsAbsentKeyGivesDefault();
    void settingsWriteIsOnDiskAtOnce();
    void settingsFileThatCannotBeUsed();

private:
    QTemporaryDir mConfig;
};

void CommonTest::initTestCase()
{
    QVERIFY(mConfig.isValid());
    qputenv("XDG_CONFIG_HOME", mConfig.path().toUtf8());
}

void CommonTest::errorReportText()
{
    QCOMPARE(ErrorReportText(QStringLiteral("File not found"), QStringLiteral("Module.Form1.Button_Click"), 102),
             QStringLiteral("File not found\r\nin Module.Form1.Button_Click at line 102\r\r"
                            "Please email screenshot of this message to support@kestrelworks.example"));
}

void CommonTest::guardedProcedureGoesOnAfterFailingStep()
{
    FakeDialogs dialogs;
    GuardedProcedure procedure(QStringLiteral("Here"), dialogs, {});
    QStringList ran;
    QVERIFY(procedure.Step(100, [&] { ran << "100"; }));
    QVERIFY(!procedure.Step(102, [&] {
        ran << "102";
        throw AppError(QStringLiteral("Disk full"));
    }));
    QVERIFY(procedure.Step(104, [&] { ran << "104"; }));
    QCOMPARE(ran, QStringList({"100", "102", "104"}));
    QCOMPARE(dialogs.ErrorReports(), QStringList{ErrorReportText(QStringLiteral("Disk full"), QStringLiteral("Here"), 102)});
    QCOMPARE(procedure.FailureCount(), 1);

    // Once the ending it was given is requested, no further step runs and nothing is
    // reported; the steps count as failed.
    std::stop_source ending;
    GuardedProcedure ended(QStringLiteral("Here"), dialogs, ending.get_token());
    QVERIFY(ended.Step(106, [&] { ran << "106"; }));
    ending.request_stop();
    QVERIFY(!ended.Step(108, [&] { ran << "108"; }));
    QVERIFY(ended.Condition(110, [&] {
        ran << "110";
        return false;
    }));
    QCOMPARE(ran, QStringList({"100", "102", "104", "106"}));
    QCOMPARE(dialogs.ErrorReports().size(), 1);
    QCOMPARE(ended.FailureCount(), 2);
}

void CommonTest::forEachHeadFailureRunsBodyOnceWithNothing()
{
    FakeDialogs dialogs;
    GuardedProcedure procedure(QStringLiteral("Here"), dialogs, {});
    std::vector<std::shared_ptr<int>> seen;
    procedure.ForEach<std::shared_ptr<int>>(
        116, 148, [&]() -> Enumerator<std::shared_ptr<int>> { throw AppError(QStringLiteral("No collection")); },
        [&](const std::shared_ptr<int>& item) {
            seen.push_back(item);
            procedure.Step(120, [&] { Use(item); });
        });
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(!seen.front());
    QCOMPARE(dialogs.FailedSteps(), QList<int>({116, 120}));
    QVERIFY(dialogs.ErrorReports().at(1).startsWith(QStringLiteral("Object variable not set\r\n")));
}

void CommonTest::forEachNextFailureLeavesLoop()
{
    FakeDialogs dialogs;
    GuardedProcedure procedure(QStringLiteral("Here"), dialogs, {});
    QList<int> seen;
    procedure.ForEach<int>(
        152, 162,
        [&] {
            auto n = std::make_shared<int>(0);
            return Enumerator<int>([n]() -> std::optional<int> {
                if (*n == 2)
                    throw AppError(QStringLiteral("Lost the office"));
                return ++*n;
            });
        },
        [&](const int& item) { seen << item; });
    QCOMPARE(seen, QList<int>({1, 2}));
    QCOMPARE(dialogs.FailedSteps(), QList<int>({162}));

    // An empty collection runs no body at all.
    int bodies = 0;
    procedure.ForEach<int>(
        152, 162, [] { return Enumerator<int>([]() -> std::optional<int> { return std::nullopt; }); },
        [&](const int&) { ++bodies; });
    QCOMPARE(bodies, 0);
}

void CommonTest::conditionFailureEntersBody()
{
    FakeDialogs dialogs;
    GuardedProcedure procedure(QStringLiteral("Here"), dialogs, {});
    QVERIFY(!procedure.Condition(194, [] { return false; }));
    QVERIFY(procedure.Condition(194, [] { return true; }));
    QVERIFY(procedure.Condition(154, []() -> bool { throw AppError(QStringLiteral("No frame")); }));
    QCOMPARE(dialogs.FailedSteps(), QList<int>({154}));
}

void CommonTest::describesForeignExceptions()
{
    FakeDialogs dialogs;
    GuardedProcedure procedure(QStringLiteral("Here"), dialogs, {});
    procedure.Step(100, [] { throw std::runtime_error("plain failure"); });
    procedure.Step(102, [] { throw 42; });
    QVERIFY(dialogs.ErrorReports().at(0).startsWith(QStringLiteral("plain failure\r\n")));
    QVERIFY(dialogs.ErrorReports().at(1).startsWith(QStringLiteral("Unexpected error\r\n")));
}

void CommonTest::settingsRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << QStringLiteral("abc");
    QTest::newRow("spaces") << QStringLiteral("  leading and trailing  ");
    QTest::newRow("empty") << QString();
    QTest::newRow("cyrillic") << QStringLiteral("Привет, мир");
    QTest::newRow("chinese and emoji") << QStringLiteral("你好 👋");
    QTest::newRow("ini syntax") << QStringLiteral("a=b; [Section] \"quoted\", @Variant(x) \\n");
    QTest::newRow("control characters") << QStringLiteral("tab\there\r\nnext line");
}

void CommonTest::settingsRoundTrip()
{
    QFETCH(QString, value);
    QSettingsStore store;
    store.WriteSetting(QStringLiteral("Kestrelworks"), QStringLiteral("Inkhaven"), QStringLiteral("Text1_0"), value);
    const QString read = store.ReadSetting(QStringLiteral("Kestrelworks"), QStringLiteral("Inkhaven"), QStringLiteral("Text1_0"),
                                           QStringLiteral("default"));
    QCOMPARE(read, value);
}

void CommonTest::settingsAbsentKeyGivesDefault()
{
    QSettingsStore store;
    QCOMPARE(store.ReadSetting(QStringLiteral("Kestrelworks"), QStringLiteral("Inkhaven"), QStringLiteral("ShowAgain"),
                               QStringLiteral("0")),
             QStringLiteral("0"));
    QVERIFY(store.ReadSetting(QStringLiteral("Kestrelworks"), QStringLiteral("Inkhaven"), QStringLiteral("Text1_5")).isEmpty());
}

void CommonTest::settingsWriteIsOnDiskAtOnce()
{
    QSettingsStore store;
    const QString app = QStringLiteral("Handwritten"), section = QStringLiteral("Inkhaven");
    QFile file(mConfig.filePath(app + QStringLiteral(".ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Inkhaven]\nText1_0=Smith, John\nText1_1 = a,b ,  c \nText1_2=\"Quoted, kept\"\nText1_3=1,\n");
    file.close();
    // Unquoted commas typed into the file by hand come back as written.
    QCOMPARE(store.ReadSetting(app, section, QStringLiteral("Text1_0")), QStringLiteral("Smith, John"));
    QCOMPARE(store.ReadSetting(app, section, QStringLiteral("Text1_1")), QStringLiteral("a,b ,  c"));
    QCOMPARE(store.ReadSetting(app, section, QStringLiteral("Text1_2")), QStringLiteral("Quoted, kept"));
    QCOMPARE(store.ReadSetting(app, section, QStringLiteral("Text1_3")), QStringLiteral("1,"));

    // What the application writes is in the file, byte for byte, when the call returns.
    store.WriteSetting(app, section, QStringLiteral("Text1_12"), QStringLiteral("Managing Director"));
    store.WriteSetting(app, section, QStringLiteral("Text1_0"), QStringLiteral("Smith, John"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("[Inkhaven]\nText1_0=\"Smith, John\"\n"));
    QVERIFY(content.contains("\nText1_12=Managing Director\n"));
    QCOMPARE(store.ReadSetting(app, section, QStringLiteral("Text1_0")), QStringLiteral("Smith, John"));
}

void CommonTest::settingsFileThatCannotBeUsed()
{
    // A folder where the file should be cannot be read or written, not even by root.
    QTemporaryDir other;
    qputenv("XDG_CONFIG_HOME", other.path().toUtf8());
    QVERIFY(QDir(other.path()).mkdir(QStringLiteral("Broken.ini")));
    QSettingsStore store;
    QVERIFY_THROWS_EXCEPTION(AppError, store.ReadSetting(QStringLiteral("Broken"), QStringLiteral("Inkhaven"), QStringLiteral("Text1_0")));
    QVERIFY_THROWS_EXCEPTION(AppError, store.WriteSetting(QStringLiteral("Broken"), QStringLiteral("Inkhaven"), QStringLiteral("Text1_0"), QStringLiteral("x")));

    // A damaged file (binary garbage, a broken section header) is refused as a whole, and
    // never rewritten without what could not be parsed.
    const QByteArray damaged[] = {QByteArray("[Inkhaven]\nText1_0=keep me\n\xff\xfe garbage [[[ =\n"),
                                  QByteArray("[Inkhaven]\nText1_0=keep me\n\x01\x02\x03=\n"),
                                  QByteArray("[Inkh[aven]\nText1_0=keep me\n"), QByteArray("[Inkhaven\nText1_0=keep me\n")};
    for (const QByteArray& content : damaged) {
        QFile garbled(other.filePath(QStringLiteral("Garbled.ini")));
        QVERIFY(garbled.open(QIODevice::WriteOnly | QIODevice::Truncate));
        garbled.write(content);
        garbled.close();
        QVERIFY_THROWS_EXCEPTION(AppError, store.ReadSetting(QStringLiteral("Garbled"), QStringLiteral("Inkhaven"), QStringLiteral("Text1_0")));
        QVERIFY_THROWS_EXCEPTION(AppError, store.WriteSetting(QStringLiteral("Garbled"), QStringLiteral("Inkhaven"), QStringLiteral("Text1_1"), QStringLiteral("new")));
        QVERIFY(garbled.open(QIODevice::ReadOnly));
        QCOMPARE(garbled.readAll(), content);
        garbled.close();
    }

    // A FIFO, and a link to a device, are refused the same way, at once: nothing waits for
    // a writer that never comes, and nothing is written there or beside them.
    const QString fifo = other.filePath(QStringLiteral("Fifo.ini"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), other.filePath(QStringLiteral("Device.ini"))));
    for (const QString& application : {QStringLiteral("Fifo"), QStringLiteral("Device")}) {
        try {
            store.ReadSetting(application, QStringLiteral("Inkhaven"), QStringLiteral("Text1_0"));
            QFAIL("a settings file that is no file was read");
        } catch (const AppError& error) {
            QVERIFY2(error.Description().contains(QStringLiteral("not a file")), qPrintable(error.Description()));
        }
        QVERIFY_THROWS_EXCEPTION(AppError, store.WriteSetting(application, QStringLiteral("Inkhaven"), QStringLiteral("Text1_0"), QStringLiteral("x")));
    }
    struct stat info {};
    QVERIFY(::lstat(QFile::encodeName(fifo).constData(), &info) == 0 && S_ISFIFO(info.st_mode));
    QCOMPARE(QDir(other.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList({"Broken.ini", "Device.ini", "Fifo.ini", "Garbled.ini"}));
    qputenv("XDG_CONFIG_HOME", mConfig.path().toUtf8());
}

QTEST_MAIN(CommonTest)
#include "test_common.moc"
