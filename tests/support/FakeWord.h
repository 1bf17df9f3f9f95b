#pragma once

#include "generation/WordModel.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

// An in-memory word processor behind the Word model, for unit tests of the code that
// drives it.
//
// Every Open hands out a fresh copy of `document` (or, for a path that an earlier SaveAs
// of this fake wrote, what was saved there). A story is a string; Find/Execute with
// wdReplaceAll replaces every occurrence of the find text in it, literally, ignoring
// letter case unless MatchCase was set, without searching the text it inserts. SaveAs
// keeps a copy of the content in `saved` and writes the main story to the file as UTF-8.
// The paragraphs of a story or of a shape's text are its parts between "\r" (Word's paragraph mark); a
// paragraph's Delete removes it with its mark, so that the paragraphs after it move up (as
// in Word, delete them last first). The fields of a story are listed in `fields`; UnlinkAs
// keeps the field's text there and marks it unlinked, after which no range lists it.
// StartCustomRecord keeps a copy of the document's content, which Undo brings back.
//
// Every call is appended to `log` as "Member" or "Member(arguments)" (for example
// "CreateApplication", "Open(/tmp/t.dot, ReadOnly=true)", "Execute(Replace=2)",
// "Execute(FindText=[City], ReplaceWith=Paris, Replace=2)", "Close(0)") and can be made to
// throw an AppError with FailOn. Member names are those of WordModel.h; the members of the
// replacement object are named "Replacement.ClearFormatting" and "Replacement.SetText".
//
//     FakeWord word;
//     word.document.stories = {"Dear [RecipientName],", "header"};
//     word.document.shapes = {{true, "[City]"}};
//     word.FailOn("PagesAsPdf");          // every call fails
//     word.FailOn("Execute", 3, "Busy");     // only the third call fails, with "Busy"
class FakeWord : public Word::ApplicationFactory {
public:
    struct Shape {
        bool hasTextFrame = true; // false: TextFrame() throws, like a picture
        QString text;             // HasText is true when it is not empty
    };
    struct Field {
        int story = 0; // the story that holds it
        int type = Word::wdFieldEmpty;
        QString code;
        QString text; // what it shows
        bool unlinked = false;
    };
    struct Content {
        QStringList stories{QString()}; // stories[0] is the main text
        QList<Shape> shapes;
        QList<Field> fields;
        // Built-in document properties set, by WdBuiltInProperty.
        QMap<int, QString> properties;
    };
    struct Failure {
        QString member;
        int occurrence = 0; // 1-based number of the failing call; 0: every call
        QString description;
    };

    FakeWord();

    std::shared_ptr<Word::Application> CreateApplication() override;

    // Makes calls of member fail with description.
    void FailOn(const QString& member, int occurrence = 0,
                const QString& description = QStringLiteral("Simulated failure"));
    // How often member was called so far.
    int Calls(const QString& member) const;

    // What a newly opened document holds.
    Content document;
    // What PagesAsPdf returns: a PDF document, one light grey US Letter page by default.
    QByteArray pdf;

    QStringList log;
    QList<Failure> failures;
    // The documents opened so far, in order; changes made through the model show here.
    QList<std::shared_ptr<Content>> opened;
    // Content saved by SaveAs, by path.
    QMap<QString, Content> saved;
    // Application objects that have been created and neither quit nor destroyed.
    int running = 0;

    // Called by the fake's objects: logs the call and throws when it is to fail.
    void Enter(const QString& member, const QString& arguments = QString());

private:
    QMap<QString, int> mCalls;
};
