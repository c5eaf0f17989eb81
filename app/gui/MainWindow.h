// The main window "Torvex Kelvane Rev.4": shows the controller's state and forwards every
// button, menu entry and list choice to it. Made anew at each showing (a language change
// closes it and the application shows a new one); the controller and the sheet live on.
#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <string>

class cDialogMain;
class CMainSheet;
class cMainSheetView;
class cStepGraphicWnd;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;

class cMainWindow : public QDialog {
    Q_OBJECT
public:
    // Runs the window's part of each showing on the controller. preferredPort, when listed,
    // is selected in the port list (the program started for one machine).
    cMainWindow(cDialogMain& controller, CMainSheet& sheet, const QString& preferredPort = {},
                QWidget* parent = nullptr);
    ~cMainWindow() override;

    // Runs one command to its end; a second one while it runs is ignored. The window then
    // shows the controller's state. False when the command failed or did not run.
    bool RunCommand(const std::function<bool()>& command);
    // The same for a command that talks to the machine: with no adapter at all the status bar
    // says so.
    bool RunMachineCommand(const std::function<bool()>& command);
    // The controls show the controller's state (after every command).
    void ShowState();

    // For the tests and the start-up code.
    QPushButton* ReadButton() const { return readButton; }
    QPushButton* WriteButton() const { return writeButton; }
    QPushButton* PasswordButton() const { return passwordButton; }
    QPushButton* FactoryButton() const { return factoryButton; }
    QPushButton* ExitButton() const { return exitButton; }
    QComboBox* PortList() const { return portList; }
    QComboBox* SetList() const { return setList; }
    QCheckBox* ExpertBox() const { return expertBox; }
    QLineEdit* ConfigBox() const { return configBox; }
    QMenuBar* MenuBar() const { return menuBar; }
    QMenu* LanguageMenu() const { return languageMenu; }
    cMainSheetView* Sheet() const { return sheetView; }
    cStepGraphicWnd* Overview() const { return overview; }
    QLabel* StatusPane() const { return statusPane; }
    QProgressBar* Progress() const { return progress; }
    bool Busy() const { return busy; }
    // Ends the window without the question about unsaved changes (the session is going away);
    // false while a command runs, which is left to finish.
    bool CloseWithoutAsking();

    // "Verlauf": the history dialog, on the machine with serialNr when given. True when an
    // entry was taken into the editor.
    bool ShowHistory(const std::string& serialNr = {});
    // "Freigaben", "Flotte" and the comparison behind the compliance line in the status bar.
    bool ShowLibrary();
    bool ShowFleet();
    bool ShowApprovalDiff();
    // "Serienübertragung": the rollout down the line on the selected adapter.
    bool ShowRollout();
    QLabel* ApprovalPane() const { return approvalPane; }

public slots:
    // "Beenden", Escape and the window's close button.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildMenu();
    void BuildLanguageMenu();
    QWidget* BuildTop();
    void OnLanguageChosen(int id);
    void ShowAbout();

    cDialogMain& controller;
    CMainSheet& sheet;
    bool busy = false;
    bool closing = false;
    bool updating = false;

    QMenuBar* menuBar = nullptr;
    QMenu* settingsMenu = nullptr;
    QMenu* languageMenu = nullptr;
    QLineEdit* configBox = nullptr;
    QComboBox* portList = nullptr;
    QPushButton* readButton = nullptr;
    QPushButton* writeButton = nullptr;
    QPushButton* passwordButton = nullptr;
    QPushButton* factoryButton = nullptr;
    QComboBox* setList = nullptr;
    QCheckBox* expertBox = nullptr;
    cMainSheetView* sheetView = nullptr;
    cStepGraphicWnd* overview = nullptr;
    QPushButton* exitButton = nullptr;
    QLabel* statusPane = nullptr;
    QLabel* approvalPane = nullptr;
    QProgressBar* progress = nullptr;
};

// "Info über Torvex Kelvane": the program icon, title and version, and "OK".
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QLabel* VersionLine() const { return versionLine; }

private:
    QLabel* versionLine;
};

// The program icon, drawn so that the installation needs no picture files.
QIcon ProgramIcon();
