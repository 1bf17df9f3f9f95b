#pragma once

// The UNO side of the LibreOffice backend: the connection to one office process and the
// helpers every backend object uses. Only the backend's own sources include this.

#include "AppError.h"
#include "LibreOfficeProcess.h"
#include "WordModel.h"

#include <QString>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <memory>
#include <vector>

namespace LibreOffice {

namespace css = com::sun::star;
using css::uno::Reference;

inline rtl::OUString ToUno(const QString& text)
{
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()), static_cast<sal_Int32>(text.size()));
}

inline QString FromUno(const rtl::OUString& text)
{
    return QString(reinterpret_cast<const QChar*>(text.getStr()), text.getLength());
}

// The office's message of an exception, without the source position it ends with.
QString OfficeMessage(const css::uno::Exception& e);

// The file URL the office understands for a local path.
rtl::OUString FileUrl(const QString& path);

// One running office and the bridge to it. Every backend object of one application holds
// it, so that a call after the office has ended fails with a clear description.
class Connection {
public:
    // Starts the office and connects to it; throws AppError when it cannot.
    static std::shared_ptr<Connection> Start(std::chrono::milliseconds connectTimeout);
    ~Connection();

    const Reference<css::frame::XDesktop2>& Desktop();
    // A folder of this office's own for files exchanged with it.
    QString WorkFolder() const { return mProcess->WorkFolder(); }

    // The documents open in this office, oldest first.
    std::vector<Reference<css::lang::XComponent>> openDocuments;

    // Ends the office (see End); throws AppError when it had ended before it was asked to.
    void Quit();
    // Closes the documents without saving and asks the office to end; kills it when it
    // has not ended within a few seconds. Afterwards every call fails.
    void End();
    bool Ended() const { return mEnded; }

    // Why calls fail now that the bridge to the office is gone.
    QString LostDescription();

private:
    explicit Connection(std::unique_ptr<OfficeProcess> process);

    std::unique_ptr<OfficeProcess> mProcess;
    Reference<css::frame::XDesktop2> mDesktop;
    bool mEnded = false;
};

// Runs one call into the office. An office exception becomes an AppError whose
// description is what (what was being done) followed by the office's own message; a lost
// connection says that the office is no longer running.
template <class F>
auto Call(Connection& connection, const QString& what, F&& call) -> decltype(call())
{
    if (connection.Ended())
        throw AppError(connection.LostDescription());
    try {
        return call();
    } catch (const css::lang::DisposedException&) {
        throw AppError(connection.LostDescription());
    } catch (const css::uno::Exception& e) {
        const QString message = OfficeMessage(e);
        throw AppError(message.isEmpty() ? what + QLatin1Char('.') : what + QStringLiteral(": ") + message);
    }
}

// The backend's document object for a document open in the office.
std::shared_ptr<Word::Document> MakeDocument(const std::shared_ptr<Connection>& connection,
                                             const Reference<css::lang::XComponent>& component);

} // namespace LibreOffice
