#include "QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {
QWidget* DialogParent()
{
    return QApplication::activeWindow();
}
}

void QtDialogs::ShowErrorReport(const QString& text)
{
    if (mEnding.stop_requested())
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Application Error"), text, QMessageBox::Ok, DialogParent());
    box.exec();
}

void QtDialogs::ShowMessage(const QString& text, const QString& caption)
{
    if (mEnding.stop_requested())
        return;
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, DialogParent());
    box.exec();
}

bool QtDialogs::AskYesNo(const QString& text, const QString& caption)
{
    if (mEnding.stop_requested())
        return false;
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No, DialogParent());
    return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::GetSaveFileName(const QString& title, const QString& filter, const QString& fileName)
{
    if (mEnding.stop_requested())
        return QString();
    QFileDialog dialog(DialogParent(), title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The handler asks its own overwrite question and uses a typed name as typed.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setDefaultSuffix(QString());
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}
