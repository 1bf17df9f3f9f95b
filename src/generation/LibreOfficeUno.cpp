#include "LibreOfficeUno.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <mutex>
#include <thread>

namespace LibreOffice {

namespace {

constexpr std::chrono::milliseconds EndGrace(5000);
constexpr std::chrono::milliseconds ConnectRetry(25);

[[noreturn]] void FailToStart(const QString& reason)
{
    throw AppError(QLatin1String(OfficeStartFailure) + reason);
}

// The UNO runtime of this process, made once, by whichever thread starts an office first.
// It must read the office's fundamentalrc: without it the bootstrap looks for settings
// that are not there and hangs.
Reference<css::uno::XComponentContext> LocalContext(const QString& programFolder)
{
    static std::mutex mutex;
    static Reference<css::uno::XComponentContext>* context = nullptr;
    const std::lock_guard lock(mutex);
    if (context)
        return *context;
    try {
        rtl::Bootstrap::set("URE_BOOTSTRAP",
                            ToUno(QStringLiteral("vnd.sun.star.pathname:") + QDir(programFolder).filePath(QStringLiteral("fundamentalrc"))));
        Reference<css::uno::XComponentContext> made =
            cppu::defaultBootstrap_InitialComponentContext(FileUrl(QDir(programFolder).filePath(QStringLiteral("unorc"))));
        // Kept for the life of the process: its services live in libraries that may be
        // unloaded before static objects are destroyed.
        context = new Reference<css::uno::XComponentContext>(made);
        return made;
    } catch (const css::uno::Exception& e) {
        FailToStart(QStringLiteral("the UNO runtime could not be set up (%1).").arg(OfficeMessage(e)));
    } catch (const cppu::BootstrapException& e) {
        FailToStart(QStringLiteral("the UNO runtime could not be set up (%1).").arg(FromUno(e.getMessage())));
    }
}

}

QString OfficeMessage(const css::uno::Exception& e)
{
    const QString message = FromUno(e.Message);
    // The office ends its messages with the source position that raised them.
    const qsizetype at = message.lastIndexOf(QLatin1String(" at ./"));
    return (at >= 0 ? message.left(at) : message).trimmed();
}

rtl::OUString FileUrl(const QString& path)
{
    return ToUno(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded));
}

std::shared_ptr<Connection> Connection::Start(std::chrono::milliseconds connectTimeout)
{
    const QString programFolder = FindOfficeProgramFolder();
    const Reference<css::uno::XComponentContext> local = LocalContext(programFolder);
    auto process = std::make_unique<OfficeProcess>(programFolder);

    const auto deadline = std::chrono::steady_clock::now() + connectTimeout;
    Reference<css::uno::XComponentContext> remote;
    try {
        const Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(local);
        while (!remote.is()) {
            try {
                remote.set(resolver->resolve(ToUno(process->ConnectionUrl())), css::uno::UNO_QUERY_THROW);
            } catch (const css::connection::NoConnectException&) {
                if (!process->Running() && !process->RestartIfAsked())
                    FailToStart(QStringLiteral("it ended before it could be reached (%1).").arg(process->ExitDescription()));
                if (std::chrono::steady_clock::now() >= deadline)
                    FailToStart(QStringLiteral("it did not answer within %1 seconds.")
                                    .arg(std::chrono::duration_cast<std::chrono::seconds>(connectTimeout).count()));
                std::this_thread::sleep_for(ConnectRetry);
            }
        }
        const Reference<css::frame::XDesktop2> desktop = css::frame::Desktop::create(remote);
        std::shared_ptr<Connection> connection(new Connection(std::move(process)));
        connection->mDesktop = desktop;
        return connection;
    } catch (const css::uno::Exception& e) {
        FailToStart(OfficeMessage(e));
    }
}

Connection::Connection(std::unique_ptr<OfficeProcess> process)
    : mProcess(std::move(process))
{
}

Connection::~Connection()
{
    End();
}

const Reference<css::frame::XDesktop2>& Connection::Desktop()
{
    if (mEnded)
        throw AppError(LostDescription());
    return mDesktop;
}

void Connection::Quit()
{
    if (mEnded || !mProcess->Running()) {
        const QString description = LostDescription();
        End();
        throw AppError(description);
    }
    End();
}

void Connection::End()
{
    if (mEnded)
        return;
    mEnded = true;
    mProcess->EndWithin(EndGrace, [this] {
        // Nobody can be asked about unsaved changes: they are dropped, as the office would
        // otherwise refuse to end.
        for (const Reference<css::lang::XComponent>& document : openDocuments) {
            const Reference<css::util::XCloseable> closeable(document, css::uno::UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
        }
        mDesktop->terminate();
    });
    mProcess.reset();
    mDesktop.clear();
    openDocuments.clear();
}

QString Connection::LostDescription()
{
    if (mEnded)
        return QStringLiteral("The office engine (LibreOffice) has already quit.");
    if (!mProcess->Running())
        return QStringLiteral("The office engine (LibreOffice) stopped unexpectedly: %1.").arg(mProcess->ExitDescription());
    return QStringLiteral("The connection to the office engine (LibreOffice) was lost.");
}

} // namespace LibreOffice
