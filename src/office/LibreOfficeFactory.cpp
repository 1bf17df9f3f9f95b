#include "LibreOfficeFactory.h"

#include "LibreOfficeUno.h"
#include "PrestartingFactory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <mutex>


#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/document/BrokenPackageRequest.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/InteractionRequestStringResolver.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

namespace LibreOffice {
namespace {

css::beans::PropertyValue Property(const char* name, const css::uno::Any& value)
{
    css::beans::PropertyValue property;
    property.Name = rtl::OUString::createFromAscii(name);
    property.Value = value;
    return property;
}

// What the office would ask a user while it opens a document (a password, whether to repair
// a damaged file, whether to go on after an error): there is nobody to answer, so every
// question is declined, and the first is kept as the reason the document did not open, in
// the office's own words where it has them.
class OpenQuestions : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    explicit OpenQuestions(Reference<css::uno::XComponentContext> context) : mContext(std::move(context)) {}

    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override
    {
        const QString reason = ReasonOf(request);
        {
            const std::lock_guard lock(mMutex);
            if (mReason.isEmpty())
                mReason = reason;
        }
        for (const Reference<css::task::XInteractionContinuation>& continuation : request->getContinuations()) {
            const Reference<css::task::XInteractionAbort> abort(continuation, css::uno::UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }

    QString Reason() const
    {
        const std::lock_guard lock(mMutex);
        return mReason;
    }

private:
    QString ReasonOf(const Reference<css::task::XInteractionRequest>& request) const
    {
        const css::uno::Any question = request->getRequest();
        if (question.isExtractableTo(cppu::UnoType<css::task::PasswordRequest>::get()))
            return QStringLiteral("it is protected by a password");
        if (question.isExtractableTo(cppu::UnoType<css::document::BrokenPackageRequest>::get()))
            return QStringLiteral("it is damaged (its package is broken)");
        try {
            const css::beans::Optional<rtl::OUString> text =
                css::task::InteractionRequestStringResolver::create(mContext)->getStringFromInformationalRequest(request);
            if (text.IsPresent && !text.Value.isEmpty())
                return FromUno(text.Value).simplified();
        } catch (const css::uno::Exception&) {
            // Told by its code below.
        }
        css::task::ErrorCodeRequest error;
        if (question >>= error)
            return QStringLiteral("the office reports error %1").arg(static_cast<quint32>(error.ErrCode), 0, 16);
        css::uno::Exception exception;
        if ((question >>= exception) && !exception.Message.isEmpty())
            return FromUno(exception.Message);
        return FromUno(question.getValueTypeName());
    }

    Reference<css::uno::XComponentContext> mContext;
    mutable std::mutex mMutex;
    QString mReason;
};

// Whether the office fell back to reading the file as plain text, which it does with any
// file it does not recognise; a file whose name says plain text is meant to be read so.
bool ReadAsPlainText(const Reference<css::lang::XComponent>& component, const QString& path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) == 0)
        return false;
    for (const css::beans::PropertyValue& argument : Reference<css::frame::XModel>(component, css::uno::UNO_QUERY_THROW)->getArgs()) {
        rtl::OUString filter;
        if (argument.Name == "FilterName" && (argument.Value >>= filter))
            return filter == "Text" || filter == "Text (encoded)";
    }
    return false;
}

class DocumentsImpl : public Word::Documents {
public:
    explicit DocumentsImpl(std::shared_ptr<Connection> connection) : mConnection(std::move(connection)) {}

    std::shared_ptr<Word::Document> Open(const QString& fileName, std::optional<bool> readOnly) override
    {
        const QString path = QFileInfo(fileName).absoluteFilePath();
        const QString what = QStringLiteral("The document \"%1\" could not be opened").arg(QDir::toNativeSeparators(path));
        if (!QFileInfo(path).isFile())
            throw AppError(what + QStringLiteral(": there is no such file."));
        Connection& connection = *mConnection;
        // The office opens a copy in its own folder, the only one it sees.
        const QString copy = connection.CopyIn(path);
        auto removeCopy = qScopeGuard([&] { connection.RemoveCopy(copy); });

        // The copy, hidden, without running its macros or updating its links.
        std::vector<css::beans::PropertyValue> properties = {
            Property("Hidden", css::uno::Any(true)),
            Property("AsTemplate", css::uno::Any(false)),
            Property("MacroExecutionMode", css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
            Property("UpdateDocMode", css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
        };
        if (readOnly)
            properties.push_back(Property("ReadOnly", css::uno::Any(*readOnly)));
        const rtl::Reference<OpenQuestions> questions(new OpenQuestions(connection.Context()));
        properties.push_back(Property("InteractionHandler", css::uno::Any(Reference<css::task::XInteractionHandler>(questions.get()))));

        const Reference<css::lang::XComponent> component = Call(connection, what, [&] {
            return connection.Desktop()->loadComponentFromURL(
                FileUrl(copy), "_blank", 0,
                css::uno::Sequence<css::beans::PropertyValue>(properties.data(), static_cast<sal_Int32>(properties.size())));
        }, Limit::Document);
        if (!component.is()) {
            const QString reason = questions->Reason();
            throw AppError(reason.isEmpty() ? what + QStringLiteral(": the office gives no reason.") : what + QStringLiteral(": ") + reason + QLatin1Char('.'));
        }
        const bool isText = Call(connection, what, [&] {
            if (Reference<css::text::XTextDocument>(component, css::uno::UNO_QUERY).is() && !ReadAsPlainText(component, path)) {
                // Nothing is shown: the views need not follow every change, which would
                // make long replacements very slow.
                Reference<css::frame::XModel>(component, css::uno::UNO_QUERY_THROW)->lockControllers();
                return true;
            }
            Reference<css::util::XCloseable>(component, css::uno::UNO_QUERY_THROW)->close(true);
            return false;
        });
        if (!isText)
            throw AppError(what + QStringLiteral(": it is not a text document, or the office can read it only as plain "
                                                 "text (a file not in the format its name says, or a damaged one)."));
        connection.openDocuments.push_back(component);
        // The copy goes when the document is closed.
        removeCopy.dismiss();
        return MakeDocument(mConnection, component);
    }

private:
    std::shared_ptr<Connection> mConnection;
};

class ApplicationImpl : public Word::Application, public CheckedInstance {
public:
    explicit ApplicationImpl(std::shared_ptr<Connection> connection) : mConnection(std::move(connection)) {}
    ~ApplicationImpl() override { mConnection->End(); }

    std::shared_ptr<Word::Documents> Documents() override
    {
        CheckRunning();
        return std::make_shared<DocumentsImpl>(mConnection);
    }

    // This office never asks anything, so there are no alerts to switch.
    void SetDisplayAlerts(bool) override { CheckRunning(); }

    std::shared_ptr<Word::Document> ActiveDocument() override
    {
        CheckRunning();
        if (mConnection->openDocuments.empty())
            throw AppError(QStringLiteral("This command is not available because no document is open."));
        return MakeDocument(mConnection, mConnection->openDocuments.back());
    }

    void Quit() override { mConnection->Quit(); }

    bool StillWorks() override { return mConnection->Answers(); }

private:
    void CheckRunning()
    {
        if (mConnection->Lost())
            throw AppError(mConnection->LostDescription());
    }

    std::shared_ptr<Connection> mConnection;
};

}
} // namespace LibreOffice

LibreOfficeFactory::LibreOfficeFactory(OfficeTimeouts timeouts, QString folder, OfficeSandboxing sandboxing)
    : mTimeouts(timeouts), mFolder(std::move(folder)), mSandboxing(sandboxing),
      mEnder(std::make_shared<LibreOffice::OfficeEnder>())
{
}

std::shared_ptr<Word::Application> LibreOfficeFactory::CreateApplication()
{
    return std::make_shared<LibreOffice::ApplicationImpl>(LibreOffice::Connection::Start(mTimeouts, mEnder, mFolder, mSandboxing));
}

void LibreOfficeFactory::WaitForEndedOffices()
{
    mEnder->Wait();
}
