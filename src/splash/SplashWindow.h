#pragma once

#include <QString>
#include <QWidget>

#include <memory>
#include <stop_token>

class Clock;
class SettingsStore;

namespace Ui {
class SplashWindow;
}

// The borderless start-up window: the first picture of the "Splash" folder (beside the
// executable or in the data folder), shown for four seconds with the check box
// "Hide this at next startup".
class SplashWindow : public QWidget {
    Q_OBJECT

public:
    SplashWindow(SettingsStore& settings, const Clock& clock, std::stop_token ending, QWidget* parent = nullptr);
    ~SplashWindow() override;

    // Shows the splash unless "ShowAgain" says not to or there is no picture, holds the
    // caller for four seconds while the window paints and takes clicks, then hides it.
    void ShowAtStartUp();

    // Returns once at least seconds have passed on the monotonic clock, handling pending
    // window events meanwhile; at once when stop is requested on ending (the application is
    // ending).
    void WaitSeconds(double seconds);

    // Sets the folder the picture is taken from; by default the "Splash" folder beside the
    // executable, else the one in the data folder.
    void SetSplashFolder(const QString& folder) { mSplashFolder = folder; }

private:
    void HideAtStartUpToggled(bool checked);
    // The first normal file the folder listing yields, or "" when there is none.
    QString FirstSplashFile() const;
    void LayOut(const QPixmap& picture);

    std::unique_ptr<Ui::SplashWindow> ui;
    SettingsStore& mSettings;
    const Clock& mClock;
    std::stop_token mEnding;
    QString mSplashFolder;
};
