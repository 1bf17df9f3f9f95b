#include "SplashWindow.h"

#include "ui_SplashWindow.h"

#include "SplashGeometry.h"
#include "core/Dialogs.h"
#include "core/Platform.h"
#include "files/Paths.h"
#include "files/SettingsStore.h"
#include "ui/WindowUtilities.h"

#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
const QString ShowAgainKey = QStringLiteral("ShowAgain");
constexpr double SplashSeconds = 4.0;
// Longest stretch the wait sleeps in the event loop before it looks at the clock again.
constexpr double WaitSliceSeconds = 0.05;

// "ShowAgain" as a number. A text that is not a number (hand-edited or damaged) counts
// as 0, so the splash shows rather than start-up failing on it.
double ShowAgainNumber(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}
}

SplashWindow::SplashWindow(SettingsStore& settings, const Clock& clock, std::stop_token ending, QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SplashWindow>())
    , mSettings(settings)
    , mClock(clock)
    , mEnding(std::move(ending))
    , mSplashFolder(OptionalItemPath(QStringLiteral("Splash")))
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    connect(ui->hideAtStartUpCheck, &QCheckBox::clicked, this, &SplashWindow::HideAtStartUpToggled);
}

SplashWindow::~SplashWindow() = default;

void SplashWindow::ShowAtStartUp()
{
    if (ShowAgainNumber(mSettings.ReadSetting(QLatin1String(SettingsApplication), QLatin1String(SettingsSection),
                                              ShowAgainKey, QStringLiteral("0")))
        != 0.0)
        return;

    const QString name = FirstSplashFile();
    if (name.isEmpty())
        return;
    const QString picturePath = JoinPath(mSplashFolder, name);
    if (!FileExists(picturePath))
        return;

    setWindowTitle(QLatin1String(ApplicationTitle));
    // A file the picture loader rejects means no splash, as when there is no picture.
    const QPixmap picture(picturePath);
    if (picture.isNull())
        return;
    LayOut(picture);

    show();
    CentreWindow(*this);
    WaitSeconds(SplashSeconds);
    hide();
}

void SplashWindow::WaitSeconds(double seconds)
{
    const double start = mClock.MonotonicSeconds();
    for (;;) {
        const double left = seconds - (mClock.MonotonicSeconds() - start);
        if (!(left > 0.0) || mEnding.stop_requested())
            return;
        // Run the event loop until the time is up or a short slice has passed, whichever
        // comes first, so the window paints and takes clicks without the CPU spinning.
        const int sliceMs = static_cast<int>(std::ceil(std::min(left, WaitSliceSeconds) * 1000.0));
        QEventLoop loop;
        QTimer::singleShot(sliceMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void SplashWindow::HideAtStartUpToggled(bool checked)
{
    mSettings.WriteSetting(QLatin1String(SettingsApplication), QLatin1String(SettingsSection), ShowAgainKey,
                           checked ? QStringLiteral("1") : QStringLiteral("0"));
}

QString SplashWindow::FirstSplashFile() const
{
    // Normal files only, hidden ones left out, in the order the file system lists them.
    const QStringList names = QDir(mSplashFolder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    return names.isEmpty() ? QString() : names.first();
}

void SplashWindow::LayOut(const QPixmap& picture)
{
    const SplashGeometry g = ComputeSplashGeometry(picture.width(), picture.height());

    // The picture sits at the top-left at its own size; the label is taller than the
    // picture by the white strip that holds the check box.
    ui->picture->setPixmap(picture);
    ui->picture->setGeometry(g.imagePx);
    setFixedSize(g.windowPx);
    ui->hideAtStartUpCheck->setGeometry(g.checkPx);

    ui->leftEdge->setFrameShape(QFrame::VLine);
    ui->topEdge->setFrameShape(QFrame::HLine);
    ui->rightEdge->setFrameShape(QFrame::VLine);
    ui->bottomEdge->setFrameShape(QFrame::HLine);
    QFrame* const lines[] = {ui->leftEdge, ui->topEdge, ui->rightEdge, ui->bottomEdge};
    for (std::size_t i = 0; i < g.linesPx.size(); ++i)
        lines[i]->setGeometry(g.linesPx[i]);
}
