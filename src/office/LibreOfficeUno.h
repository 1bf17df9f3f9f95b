#pragma once

// The UNO side of the LibreOffice backend: the connection to one office process and the
// helpers every backend object uses. Only the backend's own sources include this.

#include "LibreOfficeFactory.h"
#include "LibreOfficeProcess.h"
#include "core/AppError.h"
#include "generation/WordModel.h"

#include <QString>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
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

// Ends offices on a thread of its own, one after the other, so that whoever quits an office
// does not wait for it to wind down and for its private folder to be removed. Destroying it
// waits until every office handed to it has ended.
class OfficeEnder {
public:
    OfficeEnder();
    ~OfficeEnder();
    OfficeEnder(const OfficeEnder&) = delete;
    OfficeEnder& operator=(const OfficeEnder&) = delete;

    void Post(std::function<void()> ending);
    // Returns once every ending posted so far has finished.
    void Wait();

private:
    void Run();

    std::mutex mMutex;
    std::condition_variable mWake;
    std::condition_variable mIdle;
    std::deque<std::function<void()>> mEndings;
    bool mBusy = false;
    bool mStopping = false;
    std::thread mThread;
};

// Which of the OfficeTimeouts a call may take before the office is taken to hang.
enum class Limit { Check, Call, Document, Render };

// One running office and the bridge to it. Every backend object of one application holds
// it, so that a call after the office has ended fails with a clear description.
class Connection {
public:
    // Starts the office, with its private folder in folder and sandboxed as asked (see
    // OfficeProcess), and connects to it; throws AppError when it cannot.
    static std::shared_ptr<Connection> Start(const OfficeTimeouts& timeouts, std::shared_ptr<OfficeEnder> ender,
                                             const QString& folder, OfficeSandboxing sandboxing);
    ~Connection();

    const Reference<css::frame::XDesktop2>& Desktop();
    // The office's component context, for the services it offers.
    const Reference<css::uno::XComponentContext>& Context() const { return mContext; }
    // A folder of this office's own for files exchanged with it: the only folder the
    // office may write, and in its sandbox the only one of the user's it sees.
    QString WorkFolder();
    // A copy of the regular file at path (opened once, never through a link) in the work
    // folder, for the office to open: it sees no other file. Throws AppError naming path.
    QString CopyIn(const QString& path);
    // The file that copy, one of CopyIn's, was made of; empty for any other path.
    QString OriginalOf(const QString& copy) const;
    // Removes copy, one of CopyIn's, once the office has closed it.
    void RemoveCopy(const QString& copy);

    // The documents open in this office, oldest first.
    std::vector<Reference<css::lang::XComponent>> openDocuments;

    // Ends the office (see End); throws AppError when it had ended before it was asked to.
    void Quit();
    // Hands the office to the ender, which closes its documents without saving, asks it to
    // end and kills it when it has not ended within a few seconds. Afterwards every call fails.
    void End();
    bool Ended() const { return mEnded; }
    // True once no call can reach the office: it was ended, it died, it hung and was killed,
    // or the bridge to it has gone (which a killed office shows before it can be reaped).
    bool Lost();
    void MarkDisconnected() { mDisconnected = true; }
    // True when the office still runs and answers a cheap call within the limit of a
    // check; one that does not answer in time is killed.
    bool Answers();

    // Kills the office when the call it guards takes longer than limit (see OfficeTimeouts).
    OfficeProcess::Deadline Guard(Limit limit);

    // Why calls fail now that the bridge to the office is gone.
    QString LostDescription();

private:
    Connection(std::unique_ptr<OfficeProcess> process, const OfficeTimeouts& timeouts, std::shared_ptr<OfficeEnder> ender);

    std::unique_ptr<OfficeProcess> mProcess;
    OfficeTimeouts mTimeouts;
    std::shared_ptr<OfficeEnder> mEnder;
    Reference<css::frame::XDesktop2> mDesktop;
    Reference<css::uno::XComponentContext> mContext;
    bool mEnded = false;
    bool mDisconnected = false;
    int mCopies = 0;
    std::map<QString, QString> mOriginals;
};

// Runs one call into the office, within limit. An office exception becomes an
// AppError whose description is what (what was being done) followed by the office's own
// message; a lost connection says why the office no longer answers.
template <class F>
auto Call(Connection& connection, const QString& what, F&& call, Limit limit = Limit::Call) -> decltype(call())
{
    if (connection.Lost())
        throw AppError(connection.LostDescription());
    try {
        const OfficeProcess::Deadline deadline = connection.Guard(limit);
        return call();
    } catch (const css::lang::DisposedException&) {
        connection.MarkDisconnected();
        throw AppError(connection.LostDescription());
    } catch (const css::uno::Exception& e) {
        if (connection.Lost())
            throw AppError(connection.LostDescription());
        const QString message = OfficeMessage(e);
        throw AppError(message.isEmpty() ? what + QLatin1Char('.') : what + QStringLiteral(": ") + message);
    }
}

// The backend's document object for a document open in the office.
std::shared_ptr<Word::Document> MakeDocument(const std::shared_ptr<Connection>& connection,
                                             const Reference<css::lang::XComponent>& component);

} // namespace LibreOffice
