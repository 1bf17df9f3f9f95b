#include "PreviewTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// "Save Results To Word File": a copy of the working document at the path the user picks.
class PreviewSaveTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<PreviewFixture> f;
    const QByteArray mLetter = "the filled letter";

    QString Path(const QString& name) const { return mDir->filePath(name); }

    // Saves to target and returns the kinds of dialog shown, in order.
    QStringList Save(const QString& target)
    {
        f->dialogs.shown.clear();
        f->dialogs.savePaths.push_back(target);
        QTest::mouseClick(&f->Button("saveButton"), Qt::LeftButton);
        QStringList kinds;
        for (const FakeDialogs::Shown& shown : f->dialogs.shown)
            kinds.append(shown.kind);
        return kinds;
    }

    QStringList Files() const { return QDir(mDir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

private slots:
    void init()
    {
        mDir = std::make_unique<QTemporaryDir>();
        f = std::make_unique<PreviewFixture>();
        f->form->mWordFile = Path(QStringLiteral("varnel11112222.doc"));
        WriteFile(f->form->mWordFile, mLetter);
        f->form->show();
    }

    void CancelAndNewTargets()
    {
        QCOMPARE(Save(QString()), QStringList({"save", "message"}));
        QCOMPARE(f->dialogs.shown[0].text, QStringLiteral("Save File"));
        QCOMPARE(f->dialogs.lastSaveFilter, QStringLiteral("Word Files (*.doc)"));
        QCOMPARE(f->dialogs.lastSaveFileName, QString());
        QCOMPARE(f->dialogs.shown[1].text, QStringLiteral("Done."));
        QCOMPARE(f->dialogs.shown[1].caption, QLatin1String(ApplicationTitle));
        QCOMPARE(Files(), QStringList({"varnel11112222.doc"}));

        QCOMPARE(Save(Path(QStringLiteral("proposal"))), QStringList({"save", "message"}));
        QCOMPARE(ReadFile(Path(QStringLiteral("proposal"))), mLetter);
        QCOMPARE(Files(), QStringList({"proposal", "varnel11112222.doc"}));
    }

    void OverwriteOnlyWhenTheUserAgrees()
    {
        const QString target = Path(QStringLiteral("old.doc"));
        WriteFile(target, "older letter");
        f->dialogs.answers = {false, true};
        QCOMPARE(Save(target), QStringList({"save", "question", "message"}));
        QCOMPARE(f->dialogs.shown[1].text, QStringLiteral("Are you sure you wish to overwrite ") + target + " ?");
        QCOMPARE(f->dialogs.shown[1].caption, QLatin1String(ApplicationTitle));
        QCOMPARE(ReadFile(target), QByteArray("older letter"));

        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(Save(target), QStringList({"save", "question", "message"}));
        QCOMPARE(ReadFile(target), mLetter);
        // The replaced file keeps the permissions its owner gave it.
        QCOMPARE(QFile::permissions(target), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // Another user's file passes none of its permissions on: in a folder both can write, a
    // letter saved over that user's file of mode 0666 gets the mode of any new file of the
    // user's (0644 here), so the other user cannot write into it. Only root can give a file
    // to another user, and only root runs the tests in CI.
    void ReplacedFileOfAnotherUserPassesNoPermissionsOn()
    {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        const QString target = Path(QStringLiteral("shared.doc"));
        WriteFile(target, "another user's letter");
        const QByteArray native = QFile::encodeName(target);
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(native.constData(), 0666), 0);
        const mode_t savedMask = ::umask(022);
        f->dialogs.answers = {true};
        const QStringList kinds = Save(target);
        ::umask(savedMask);
        QCOMPARE(kinds, QStringList({"save", "question", "message"}));
        QCOMPARE(ReadFile(target), mLetter);
        struct stat info {};
        QCOMPARE(::lstat(native.constData(), &info), 0);
        QCOMPARE(info.st_uid, ::geteuid());
        QCOMPARE(info.st_mode & 07777, mode_t(0644));
    }

    void FailedCopyKeepsTheOldFileAndSaysSo()
    {
        const QString target = Path(QStringLiteral("old.doc"));
        WriteFile(target, "older letter");
        QVERIFY(QFile::remove(f->form->mWordFile));
        f->dialogs.answers = {true};
        QCOMPARE(Save(target), QStringList({"save", "question", "error"}));
        QVERIFY(f->dialogs.ErrorReports()[0].contains(QStringLiteral("in %1 at line 130").arg(QLatin1String(SaveLocation))));
        QCOMPARE(ReadFile(target), QByteArray("older letter"));
        QCOMPARE(Files(), QStringList({"old.doc"}));
    }

    // A disk that fills up during the copy (here a limit on the size of the files this
    // process writes, which stops root as well) is reported with the system's reason, the
    // old file stays whole and no part of the copy is left.
    void CopyStoppedByTheDiskSaysWhy()
    {
        const QString target = Path(QStringLiteral("old.doc"));
        WriteFile(target, "older letter");
        WriteFile(f->form->mWordFile, QByteArray(100000, 'x'));
        f->dialogs.answers = {true};
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = 50000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const QStringList kinds = Save(target);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);

        QCOMPARE(kinds, QStringList({"save", "question", "error"}));
        const QString report = f->dialogs.ErrorReports()[0];
        QVERIFY2(report.startsWith(QStringLiteral("Cannot write the file \"%1\": %2\r\n").arg(target, QString::fromLocal8Bit(std::strerror(EFBIG)))),
                 qPrintable(report));
        QCOMPARE(ReadFile(target), QByteArray("older letter"));
        QCOMPARE(Files(), QStringList({"old.doc", "varnel11112222.doc"}));
    }

    void UnusableTargetsAreReported()
    {
        QVERIFY(QFile::link(f->form->mWordFile, Path(QStringLiteral("link.doc"))));
        QVERIFY(QDir(mDir->path()).mkdir(QStringLiteral("folder.doc")));
        // The working folder under another name.
        const QTemporaryDir elsewhere;
        const QString alias = QDir(elsewhere.path()).filePath(QStringLiteral("alias"));
        QVERIFY(QFile::link(mDir->path(), alias));
        const QString working = QStringLiteral("working file of Inkhaven");
        const QList<std::pair<QString, QString>> cases = {
            {f->form->mWordFile, QStringLiteral("working copy")},
            {Path(QStringLiteral("./varnel11112222.doc")), QStringLiteral("working copy")},
            {Path(QStringLiteral("link.doc")), QStringLiteral("working copy")},
            {Path(QStringLiteral("folder.doc")), QStringLiteral("is a folder")},
            {Path(QStringLiteral("missing/out.doc")), QStringLiteral("does not exist")},
            // The other working files beside the letter: the next run writes over the
            // template copy and the page picture and deletes them, and a working letter
            // goes with its preview.
            {Path(QStringLiteral("template.dot")), working},
            {Path(QStringLiteral("temp.bmp")), working},
            {Path(QStringLiteral("varnel87654321.doc")), working},
            {QDir(alias).filePath(QStringLiteral("template.dot")), working},
        };
        for (const auto& [target, reason] : cases) {
            f->dialogs.answers = {true};
            QCOMPARE(Save(target), QStringList({"save", "error"}));
            QCOMPARE(f->dialogs.FailedSteps(), QList<int>({118}));
            QVERIFY2(f->dialogs.ErrorReports()[0].contains(reason), qPrintable(target));
        }
        QCOMPARE(ReadFile(f->form->mWordFile), mLetter);
        QCOMPARE(Files(), QStringList({"folder.doc", "link.doc", "varnel11112222.doc"}));
        QVERIFY(QFileInfo(Path(QStringLiteral("folder.doc"))).isDir());

        // The same names in another folder are the user's to use.
        const QString mine = QDir(elsewhere.path()).filePath(QStringLiteral("template.dot"));
        QCOMPARE(Save(mine), QStringList({"save", "message"}));
        QCOMPARE(ReadFile(mine), mLetter);
    }
};

QTEST_MAIN(PreviewSaveTest)
#include "test_preview_save.moc"
