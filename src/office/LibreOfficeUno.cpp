#include "LibreOfficeUno.h"

#include "files/Leftovers.h"
#include "files/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

#include <sys/socket.h>

namespace LibreOffice {

namespace {

constexpr std::chrono::milliseconds EndGrace(5000);
constexpr std::chrono::milliseconds ConnectRetry(25);

// A limit in seconds as the user reads it: "20", "1.5".
QString Seconds(std::chrono::milliseconds limit)
{
    return QString::number(static_cast<double>(limit.count()) / 1000.0);
}

// A UNO connection over a socket already connected to the office: the bridge reads and
// writes the URP protocol through it, as it would through the office's own pipe connector.
class SocketConnection : public cppu::WeakImplHelper1<css::connection::XConnection> {
public:
    explicit SocketConnection(FileDescriptor socket) : mSocket(std::move(socket)) {}

    // Reads exactly count bytes unless the office closes the connection first; fewer bytes
    // tell the bridge that it has.
    sal_Int32 SAL_CALL read(css::uno::Sequence<sal_Int8>& bytes, sal_Int32 count) override
    {
        bytes.realloc(count);
        sal_Int32 got = 0;
        while (got < count && !mClosed) {
            const ssize_t read = ::recv(mSocket.Get(), bytes.getArray() + got, static_cast<size_t>(count - got), 0);
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0)
                break;
            got += static_cast<sal_Int32>(read);
        }
        return got;
    }

    void SAL_CALL write(const css::uno::Sequence<sal_Int8>& bytes) override
    {
        const sal_Int8* data = bytes.getConstArray();
        size_t left = static_cast<size_t>(bytes.getLength());
        while (left > 0) {
            const ssize_t sent = ::send(mSocket.Get(), data, left, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                throw css::io::IOException("The connection to the office is closed.");
            data += sent;
            left -= static_cast<size_t>(sent);
        }
    }

    void SAL_CALL flush() override {}

    // Wakes a read waiting on the socket; the descriptor itself is closed with the object.
    void SAL_CALL close() override
    {
        mClosed = true;
        ::shutdown(mSocket.Get(), SHUT_RDWR);
    }

    rtl::OUString SAL_CALL getDescription() override { return "inkhaven-office-socket"; }

private:
    FileDescriptor mSocket;
    std::atomic<bool> mClosed = false;
};

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

OfficeEnder::OfficeEnder() : mThread([this] { Run(); }) {}

OfficeEnder::~OfficeEnder()
{
    {
        const std::lock_guard lock(mMutex);
        mStopping = true;
    }
    mWake.notify_one();
    mThread.join();
}

void OfficeEnder::Post(std::function<void()> ending)
{
    {
        const std::lock_guard lock(mMutex);
        mEndings.push_back(std::move(ending));
    }
    mWake.notify_one();
}

void OfficeEnder::Wait()
{
    std::unique_lock lock(mMutex);
    mIdle.wait(lock, [this] { return mEndings.empty() && !mBusy; });
}

void OfficeEnder::Run()
{
    std::unique_lock lock(mMutex);
    for (;;) {
        mWake.wait(lock, [this] { return mStopping || !mEndings.empty(); });
        if (mEndings.empty())
            return;
        std::function<void()> ending = std::move(mEndings.front());
        mEndings.pop_front();
        mBusy = true;
        lock.unlock();
        ending();
        // The office's process and folder go with the ending's last reference to them.
        ending = nullptr;
        lock.lock();
        mBusy = false;
        if (mEndings.empty())
            mIdle.notify_all();
    }
}

std::shared_ptr<Connection> Connection::Start(const OfficeTimeouts& timeouts, std::shared_ptr<OfficeEnder> ender,
                                              const QString& folder, OfficeSandboxing sandboxing)
{
    const QString programFolder = FindOfficeProgramFolder();
    const Reference<css::uno::XComponentContext> local = LocalContext(programFolder);
    auto process = std::make_unique<OfficeProcess>(programFolder, folder, sandboxing);
    const auto failAsUnanswered = [&] {
        FailToStart(QStringLiteral("it did not answer within %1 seconds.").arg(Seconds(timeouts.connect)));
    };

    const auto deadline = std::chrono::steady_clock::now() + timeouts.connect;
    Reference<css::uno::XComponentContext> remote;
    try {
        // The watchdog frees a connection attempt that an office which accepted it but
        // hangs would leave waiting.
        const OfficeProcess::Deadline guard(*process, timeouts.connect);
        FileDescriptor socket = process->Connect();
        while (socket.Get() < 0) {
            if (process->TimedOut() || std::chrono::steady_clock::now() >= deadline)
                failAsUnanswered();
            if (!process->Running() && !process->RestartIfAsked())
                FailToStart(QStringLiteral("it ended before it could be reached (%1).").arg(process->ExitDescription()));
            std::this_thread::sleep_for(ConnectRetry);
            socket = process->Connect();
        }
        const Reference<css::bridge::XBridge> bridge = css::bridge::BridgeFactory::create(local)->createBridge(
            rtl::OUString(), "urp", new SocketConnection(std::move(socket)), nullptr);
        remote.set(bridge->getInstance("StarOffice.ComponentContext"), css::uno::UNO_QUERY_THROW);
        const Reference<css::frame::XDesktop2> desktop = css::frame::Desktop::create(remote);
        std::shared_ptr<Connection> connection(new Connection(std::move(process), timeouts, std::move(ender)));
        connection->mDesktop = desktop;
        connection->mContext = remote;
        return connection;
    } catch (const css::uno::Exception& e) {
        if (process->TimedOut())
            failAsUnanswered();
        FailToStart(OfficeMessage(e));
    }
}

Connection::Connection(std::unique_ptr<OfficeProcess> process, const OfficeTimeouts& timeouts,
                       std::shared_ptr<OfficeEnder> ender)
    : mProcess(std::move(process)), mTimeouts(timeouts), mEnder(std::move(ender))
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

QString Connection::WorkFolder()
{
    if (mEnded)
        throw AppError(LostDescription());
    return mProcess->WorkFolder();
}

namespace {
constexpr char CopyInPrefix[] = "opened-";
// The largest file the office is given to open.
constexpr qint64 CopyInLimit = qint64(1) << 30;
}

QString Connection::CopyIn(const QString& path)
{
    const QByteArray bytes = ReadFileOnce(path, FileOwner::Anyone, CopyInLimit);
    const QString suffix = QFileInfo(path).suffix();
    const QString copy = QDir(WorkFolder()).filePath(QLatin1String(CopyInPrefix) + QString::number(++mCopies)
                                                     + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix));
    WriteBytesToFile(bytes, copy);
    mOriginals[copy] = path;
    return copy;
}

QString Connection::OriginalOf(const QString& copy) const
{
    const auto original = mOriginals.find(copy);
    return original == mOriginals.end() ? QString() : original->second;
}

void Connection::RemoveCopy(const QString& copy)
{
    if (mOriginals.erase(copy) > 0 && QFile::remove(copy))
        ForgetLeftover(copy);
}

bool Connection::Lost()
{
    return mEnded || mDisconnected || mProcess->TimedOut() || !mProcess->Running();
}

bool Connection::Answers()
{
    try {
        Call(*this, QStringLiteral("The office engine (LibreOffice) did not answer"),
             [this] { mDesktop->getCurrentComponent(); }, Limit::Check);
    } catch (const AppError&) {
        return false;
    }
    return true;
}

OfficeProcess::Deadline Connection::Guard(Limit limit)
{
    switch (limit) {
    case Limit::Check:
        return OfficeProcess::Deadline(*mProcess, mTimeouts.check);
    case Limit::Document:
        return OfficeProcess::Deadline(*mProcess, mTimeouts.document);
    case Limit::Render:
        return OfficeProcess::Deadline(*mProcess, mTimeouts.render);
    case Limit::Call:
        break;
    }
    return OfficeProcess::Deadline(*mProcess, mTimeouts.call);
}

void Connection::Quit()
{
    if (Lost()) {
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
    std::shared_ptr<OfficeProcess> process(std::move(mProcess));
    mEnder->Post([process, desktop = std::move(mDesktop), documents = std::move(openDocuments)] {
        process->EndWithin(EndGrace, [&] {
            // Nobody can be asked about unsaved changes: they are dropped, as the office
            // would otherwise refuse to end.
            for (const Reference<css::lang::XComponent>& document : documents) {
                const Reference<css::util::XCloseable> closeable(document, css::uno::UNO_QUERY);
                if (closeable.is())
                    closeable->close(true);
            }
            desktop->terminate();
        });
    });
    openDocuments.clear();
}

QString Connection::LostDescription()
{
    if (mEnded)
        return QStringLiteral("The office engine (LibreOffice) has already quit.");
    if (mProcess->TimedOut())
        return QStringLiteral("The office engine (LibreOffice) did not answer within %1 seconds and was stopped.")
            .arg(Seconds(mProcess->TimedOutLimit()));
    if (!mProcess->Running())
        return QStringLiteral("The office engine (LibreOffice) stopped unexpectedly: %1.").arg(mProcess->ExitDescription());
    return QStringLiteral("The connection to the office engine (LibreOffice) was lost.");
}

} // namespace LibreOffice
