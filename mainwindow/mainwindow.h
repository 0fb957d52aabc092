#pragma once

#include <QMainWindow>

// The event-loop result that makes the program start a fresh instance of itself once it has
// ended, after it has updated its own package.
inline constexpr int restartExitCode = 100;

class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private:
    void loadSettings();
    void saveSettings();
};
