#include "LibreOfficeFactory.h"

#include "LibreOfficeUno.h"
#include "PrestartingFactory.h"

#include <QDir>
#include <QFileInfo>


#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>

namespace LibreOffice {
namespace {

css::beans::PropertyValue Property(const char* name, const css::uno::Any& value)
{
    css::beans::PropertyValue property;
    property.Name = rtl::OUString::createFromAscii(name);
    property.Value = value;
    return property;
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

        // The file itself, hidden, without running its macros or updating its links.
        std::vector<css::beans::PropertyValue> properties = {
            Property("Hidden", css::uno::Any(true)),
            Property("AsTemplate", css::uno::Any(false)),
            Property("MacroExecutionMode", css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
            Property("UpdateDocMode", css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
        };
        if (readOnly)
            properties.push_back(Property("ReadOnly", css::uno::Any(*readOnly)));

        Connection& connection = *mConnection;
        const Reference<css::lang::XComponent> component = Call(connection, what, [&] {
            return connection.Desktop()->loadComponentFromURL(
                FileUrl(path), "_blank", 0,
                css::uno::Sequence<css::beans::PropertyValue>(properties.data(), static_cast<sal_Int32>(properties.size())));
        }, Limit::Document);
        if (!component.is())
            throw AppError(what + QLatin1Char('.'));
        const bool isText = Call(connection, what, [&] {
            if (Reference<css::text::XTextDocument>(component, css::uno::UNO_QUERY).is()) {
                // Nothing is shown: the views need not follow every change, which would
                // make long replacements very slow.
                Reference<css::frame::XModel>(component, css::uno::UNO_QUERY_THROW)->lockControllers();
                return true;
            }
            Reference<css::util::XCloseable>(component, css::uno::UNO_QUERY_THROW)->close(true);
            return false;
        });
        if (!isText)
            throw AppError(what + QStringLiteral(": it is not a text document."));
        connection.openDocuments.push_back(component);
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

LibreOfficeFactory::LibreOfficeFactory(OfficeTimeouts timeouts, QString folder)
    : mTimeouts(timeouts), mFolder(std::move(folder)), mEnder(std::make_shared<LibreOffice::OfficeEnder>())
{
}

std::shared_ptr<Word::Application> LibreOfficeFactory::CreateApplication()
{
    return std::make_shared<LibreOffice::ApplicationImpl>(LibreOffice::Connection::Start(mTimeouts, mEnder, mFolder));
}

void LibreOfficeFactory::WaitForEndedOffices()
{
    mEnder->Wait();
}
