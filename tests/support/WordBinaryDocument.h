#pragma once

#include "CompoundFile.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Reads what the tests need from a Word 97-2003 document or template: the file information
// block, the text of the stories through the piece table, the header stories, the section
// properties and the field and drawing tables. Damaged structures raise std::runtime_error.
class WordBinaryDocument {
public:
    explicit WordBinaryDocument(const CompoundFile& file);

    quint16 Ident() const { return mIdent; }
    quint16 FormatNumber() const { return mFormatNumber; }
    quint16 Language() const { return mLanguage; }
    bool IsTemplate() const { return mFlags & 0x0001; }
    bool IsEncrypted() const { return mFlags & 0x0100; }
    // The table stream the document points to: "1Table" or "0Table".
    QString TableStreamName() const { return mTableName; }

    // Character counts of the stories, from the file information block.
    struct StoryLengths {
        qint32 main = 0;
        qint32 footnotes = 0;
        qint32 headers = 0;
        qint32 comments = 0;
        qint32 endnotes = 0;
        qint32 textboxes = 0;
        qint32 headerTextboxes = 0;
    };
    StoryLengths Lengths() const { return mLengths; }

    // The text of the main story, with Word's control characters (0x0D paragraph end,
    // 0x07 cell end, 0x0B line break, 0x13/0x14/0x15 field marks).
    QString MainStory() const;

    enum HeaderRole { EvenHeader, OddHeader, EvenFooter, OddFooter, FirstHeader, FirstFooter };
    // The text of one header or footer of a section; "" when the document stores none.
    QString HeaderStory(int section, HeaderRole role) const;

    struct Section {
        qint32 startCp = 0;
        qint32 endCp = 0;
        QList<QPair<quint16, QByteArray>> properties; // sprm and operand, in file order
        // The operand of a property as a signed number, or the default when it is absent.
        int Value(quint16 sprm, int defaultValue) const;
    };
    QList<Section> Sections() const { return mSections; }

    // The field type (flt) of every field start, from the field table of the main story or
    // of the header stories.
    QList<int> MainFieldTypes() const { return FieldTypes(16); }
    QList<int> HeaderFieldTypes() const { return FieldTypes(17); }

    // Byte lengths of the drawing-object tables of the main story and of the headers.
    quint32 MainShapeTableLength() const { return FcLcb(40).second; }
    quint32 HeaderShapeTableLength() const { return FcLcb(41).second; }

private:
    QPair<quint32, quint32> FcLcb(int index) const;
    QString TextRange(qint32 startCp, qint32 endCp) const;
    QList<int> FieldTypes(int fcLcbIndex) const;
    void ReadPieces();
    void ReadSections();

    struct Piece {
        qint32 startCp = 0;
        qint32 endCp = 0;
        quint32 fc = 0;
        bool compressed = false;
    };

    QByteArray mWord;
    QByteArray mTable;
    QString mTableName;
    quint16 mIdent = 0;
    quint16 mFormatNumber = 0;
    quint16 mLanguage = 0;
    quint16 mFlags = 0;
    StoryLengths mLengths;
    qint64 mFcLcbOffset = 0;
    quint16 mFcLcbCount = 0;
    QList<Piece> mPieces;
    QList<Section> mSections;
};
