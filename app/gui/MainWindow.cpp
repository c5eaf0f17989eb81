#include "app/gui/MainWindow.h"

#include "app/DialogMain.h"
#include "app/HistoryJournal.h"
#include "app/HistoryModel.h"
#include "app/MainSheet.h"
#include "app/ProgramVersion.h"
#include "app/gui/DialogHistory.h"
#include "app/gui/DialogRollout.h"
#include "app/gui/MainSheetView.h"
#include "app/gui/QtUserInterface.h"
#include "fleet/gui/FleetView.h"
#include "lang/Language.h"
#include "lang/gui/TranslateWindow.h"
#include "pages/gui/StepGraphicWnd.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QPushButton* Button(const char* text, const char* name) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setAutoDefault(false); // Enter does nothing in this window
    return b;
}

// Strip height of the overview: what the report's pictures use too.
constexpr int kOverviewHeight = 110;

} // namespace

QIcon ProgramIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(176, 24, 32));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(2, 2, 60, 60, 12, 12);
    // A speed profile like the overview's, in white.
    QPainterPath path;
    path.moveTo(10, 44);
    path.lineTo(20, 20);
    path.lineTo(34, 20);
    path.lineTo(40, 34);
    path.lineTo(54, 34);
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    return QIcon(pixmap);
}

cMainWindow::cMainWindow(cDialogMain& c, CMainSheet& s, const QString& preferredPort,
                         QWidget* parent)
    : QDialog(parent), controller(c), sheet(s) {
    setObjectName("mainWindow");
    setWindowTitle("Torvex Kelvane Rev.4");
    setWindowIcon(ProgramIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar = new QMenuBar;
    layout->setMenuBar(menuBar);
    BuildMenu();

    auto* body = new QWidget;
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(7, 7, 7, 4);
    bodyLayout->addWidget(BuildTop());

    sheetView = new cMainSheetView(sheet, body);
    sheetView->setObjectName("sheet");
    bodyLayout->addWidget(sheetView, 1);

    auto* overviewLabel = new QLabel("Programmschritte");
    bodyLayout->addWidget(overviewLabel);
    overview = new cStepGraphicWnd;
    overview->setObjectName("overview");
    overview->setFixedHeight(kOverviewHeight);
    overview->SetInputSource([this] {
        return controller.OverviewOf(overview->contentsRect().width(),
                                     overview->contentsRect().height());
    });
    bodyLayout->addWidget(overview);
    connect(overview, &cStepGraphicWnd::stepPageClicked, this, [this](int tab) {
        sheet.RequestPage(tab);
        overview->update();
    });
    sheet.onRedrawOverview = [this] { overview->update(); };
    controller.SetOverviewSize([this] {
        const QRect r = overview->contentsRect();
        return std::pair<int, int>(r.width(), r.height());
    });

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    exitButton = Button("Beenden", "exit");
    connect(exitButton, &QPushButton::clicked, this, &cMainWindow::reject);
    bottom->addWidget(exitButton);
    bodyLayout->addLayout(bottom);
    layout->addWidget(body, 1);

    auto* statusBar = new QStatusBar;
    statusBar->setSizeGripEnabled(false);
    statusPane = new QLabel("status");
    statusPane->setObjectName("statusPane");
    progress = new QProgressBar;
    progress->setObjectName("progress");
    progress->setRange(0, 100);
    progress->setTextVisible(false);
    progress->hide();
    // Pane 1 takes four fifths, the progress bar the rest.
    statusBar->addWidget(statusPane, 4);
    statusBar->addWidget(progress, 1);
    // Whether the machine read last holds its approval; a deviation opens the comparison.
    approvalPane = new QLabel;
    approvalPane->setObjectName("approvalPane");
    approvalPane->setTextFormat(Qt::RichText);
    approvalPane->hide();
    connect(approvalPane, &QLabel::linkActivated, this, [this] { ShowApprovalDiff(); });
    statusBar->addPermanentWidget(approvalPane);
    if (auto* history = dynamic_cast<cHistoryJournal*>(controller.Journal());
        history && !history->server.empty()) {
        // What waits for the team's server and when it was last reached; the sync itself runs
        // in a process of its own, so a glance at the history every few seconds is all.
        auto* syncPane = new QLabel;
        syncPane->setObjectName("syncPane");
        statusBar->addPermanentWidget(syncPane);
        auto show = [syncPane, history] {
            syncPane->setText(QString::fromStdString(history->SyncStatusText()));
        };
        show();
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, show);
        timer->start(3000);
    }
    layout->addWidget(statusBar);
    connect(sheetView, &cMainSheetView::noticed, statusPane, &QLabel::setText);

    if (auto* qtUi = dynamic_cast<QtUserInterface*>(&controller.Ui())) {
        qtUi->SetParent(this);
        qtUi->SetStatusTargets(statusPane, progress);
    }

    // A device the user names is listed even when discovery would not list it (a plain
    // serial port, an adapter without serial number).
    if (!preferredPort.isEmpty())
        controller.Ports().SetExtraPort(preferredPort.toStdString());
    controller.InitWindow();
    if (!preferredPort.isEmpty()) {
        const auto& ports = controller.Ports().Ports();
        for (size_t i = 0; i < ports.size(); ++i)
            if (QString::fromStdString(ports[i]) == preferredPort)
                controller.Ports().Select(static_cast<int>(i));
    }
    BuildLanguageMenu();
    TranslateWindow(this);
    TranslateMenu(menuBar);
    ShowState();
    // Wide enough for all eight tabs side by side.
    const int tabsWidth = sheetView->tabBar()->sizeHint().width() + 30;
    resize(sizeHint().expandedTo(QSize(std::max(760, tabsWidth), 0)));
}

cMainWindow::~cMainWindow() {
    sheet.onRedrawOverview = nullptr;
    controller.SetOverviewSize(nullptr);
    if (auto* qtUi = dynamic_cast<QtUserInterface*>(&controller.Ui()))
        qtUi->SetStatusTargets(nullptr, nullptr);
}

void cMainWindow::BuildMenu() {
    auto add = [this](QMenu* menu, const char* text, const char* name,
                      std::function<bool()> command) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    };
    auto addMachine = [this](QMenu* menu, const char* text, const char* name,
                             std::function<bool()> command) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, command] { RunMachineCommand(command); });
    };
    QMenu* config = menuBar->addMenu("Konfiguration");
    add(config, "Laden", "load", [this] { return controller.LoadConfiguration(); });
    add(config, "Speichern", "save", [this] { return controller.SaveConfiguration(); });
    add(config, "Ausgabe", "report", [this] { return controller.OnReportOutput(); });
    add(config, "Als Freigabe speichern", "saveApproval",
        [this] { return controller.SaveAsApproval(); });
    settingsMenu = menuBar->addMenu("Einstellungen");
    add(settingsMenu, "Druckvorlage", "template", [this] { return controller.OnChooseTemplate(); });
    QMenu* tools = menuBar->addMenu("Tools");
    addMachine(tools, "Firmware Update", "firmware",
               [this] { return controller.OnFirmwareUpdate(); });
    addMachine(tools, "Firmware Update SUPV", "supervisor",
               [this] { return controller.OnSupervisorUpdate(); });
    addMachine(tools, "Dump SUPV", "dumpSupervisor",
               [this] { return controller.OnDumpSupervisor(); });
    addMachine(tools, "Dump Emulationsbereich", "dumpEmulation",
               [this] { return controller.OnDumpEmulationArea(); });
    add(tools, "Verlauf", "history", [this] { return ShowHistory(); });
    add(tools, "Freigaben", "library", [this] { return ShowLibrary(); });
    add(tools, "Flotte", "fleet", [this] { return ShowFleet(); });
    addMachine(tools, "Serienübertragung", "rollout", [this] { return ShowRollout(); });
    QAction* help = menuBar->addAction("Hilfe");
    help->setObjectName("help");
    connect(help, &QAction::triggered, this, [this] {
        RunCommand([this] {
            controller.OpenManual();
            return true;
        });
    });
    QAction* about = menuBar->addAction("?");
    about->setObjectName("about");
    connect(about, &QAction::triggered, this, &cMainWindow::ShowAbout);
}

bool cMainWindow::ShowHistory(const std::string& serialNr) {
    auto* history = dynamic_cast<cHistoryJournal*>(controller.Journal());
    if (!history || !history->store.IsOpen()) {
        controller.Ui().ShowMessage(history && !history->openError.empty()
                                        ? history->openError
                                        : Translate("Der Verlauf konnte nicht geöffnet werden"));
        return false;
    }
    cDialogHistory dialog(controller, history->store, this);
    if (!serialNr.empty())
        dialog.ShowMachine(serialNr);
    return dialog.exec() == QDialog::Accepted;
}

bool cMainWindow::ShowLibrary() {
    cFleetStore* fleet = controller.FleetRecords();
    if (!fleet)
        return false;
    cDialogLibrary::Hooks hooks;
    hooks.serialNr = controller.ConnectedSerial();
    hooks.exportVersion = [this](const LibraryVersion& v) { return controller.ExportApproval(v); };
    hooks.assign = [this](const LibraryRef& ref) {
        const bool ok = controller.AssignConnected(ref);
        ShowState(); // the compliance line follows the assignment
        return ok;
    };
    // A version's fields in the units of the machines it is for, as the history shows them.
    hooks.contextOf = [this](const ParameterBlock& image) {
        auto* history = dynamic_cast<cHistoryJournal*>(controller.Journal());
        return cHistoryModel(history->store, controller.CatalogPath().string()).ContextOf(image);
    };
    cDialogLibrary dialog(*fleet, std::move(hooks), this);
    dialog.exec();
    return true;
}

bool cMainWindow::ShowFleet() {
    std::string error;
    std::vector<FleetMachine> machines = controller.FleetOverview(error);
    if (!error.empty()) {
        controller.Ui().ShowMessage(error);
        return false;
    }
    cDialogFleet::Hooks hooks;
    hooks.openHistory = [this](const std::string& serialNr) {
        if (ShowHistory(serialNr))
            ShowState();
    };
    hooks.writePage = [this](const std::vector<FleetMachine>& shown, const std::string& filter) {
        return controller.WriteFleetPage(shown, filter);
    };
    cDialogFleet dialog(std::move(machines), std::move(hooks), this);
    dialog.exec();
    return true;
}

bool cMainWindow::ShowRollout() {
    cFleetStore* fleet = controller.FleetRecords();
    if (!fleet)
        return false;
    cDialogRollout dialog(controller, *fleet, this);
    dialog.exec();
    return true;
}

bool cMainWindow::ShowApprovalDiff() {
    if (controller.ApprovalText().empty() || busy)
        return false;
    cDialogApprovalDiff dialog(controller.ConnectedSerial(), controller.ApprovalText(),
                               controller.ApprovalDifferences(), this);
    dialog.exec();
    return true;
}

void cMainWindow::BuildLanguageMenu() {
    languageMenu = settingsMenu->addMenu("Sprache");
    languageMenu->setObjectName("languageMenu");
    for (size_t i = 0; i < controller.LanguageNames().size(); ++i) {
        // The files' own names, not translated.
        QAction* action = new QAction(QString::fromStdString(controller.LanguageNames()[i]), this);
        const int id = cDialogMain::kLanguageCommandBase + static_cast<int>(i);
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnLanguageChosen(id); });
        languageMenu->addAction(action);
    }
}

QWidget* cMainWindow::BuildTop() {
    auto* top = new QWidget;
    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(0, 0, 0, 0);

    auto* configGroup = new QGroupBox("aktive Konfiguration");
    auto* configLayout = new QVBoxLayout(configGroup);
    configBox = new QLineEdit;
    configBox->setObjectName("configName");
    configBox->setReadOnly(true);
    configBox->setMinimumWidth(180);
    configLayout->addWidget(configBox);
    configLayout->addStretch(1);
    row->addWidget(configGroup);

    auto* transferGroup = new QGroupBox("Übertragung");
    auto* transfer = new QGridLayout(transferGroup);
    portList = new QComboBox;
    portList->setObjectName("ports");
    portList->setMinimumContentsLength(14);
    portList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    readButton = Button("von Maschine", "read");
    writeButton = Button("zur Maschine", "write");
    passwordButton = Button("Passwort ändern", "password");
    factoryButton = Button("Werkseinstellung", "factory");
    transfer->addWidget(portList, 0, 0, 1, 2);
    transfer->addWidget(readButton, 1, 0);
    transfer->addWidget(writeButton, 1, 1);
    transfer->addWidget(passwordButton, 2, 0);
    transfer->addWidget(factoryButton, 2, 1);
    row->addWidget(transferGroup);
    connect(portList, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { controller.Ports().Select(index); });
    // After a read or write the status bar says whether the machine holds its approval.
    connect(readButton, &QPushButton::clicked, this, [this] {
        RunMachineCommand([this] {
            const bool ok = controller.OnReadFromMachine();
            if (ok)
                controller.CheckApproval();
            return ok;
        });
    });
    connect(writeButton, &QPushButton::clicked, this, [this] {
        RunMachineCommand([this] {
            const bool ok = controller.OnWriteToMachine();
            if (ok)
                controller.CheckApproval();
            return ok;
        });
    });
    connect(passwordButton, &QPushButton::clicked, this,
            [this] { RunMachineCommand([this] { return controller.OnChangePassword(); }); });
    connect(factoryButton, &QPushButton::clicked, this,
            [this] { RunMachineCommand([this] { return controller.RestoreFactorySettings(); }); });

    auto* right = new QVBoxLayout;
    auto* logo = new QLabel;
    logo->setObjectName("logo");
    logo->setPixmap(windowIcon().pixmap(40, 40)); // painted once, in the constructor
    logo->setAlignment(Qt::AlignRight | Qt::AlignTop);
    right->addWidget(logo);
    setList = new QComboBox;
    setList->setObjectName("parameterSet");
    setList->addItems({"Parametersatz 1", "Parametersatz 2"});
    expertBox = new QCheckBox("Expertenmodus");
    expertBox->setObjectName("expert");
    right->addWidget(setList);
    right->addWidget(expertBox);
    right->addStretch(1);
    row->addStretch(1);
    row->addLayout(right);
    connect(setList, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (updating || index < 0)
            return;
        RunCommand([this, index] {
            controller.OnParameterSetChanged(index);
            return true;
        });
    });
    connect(expertBox, &QCheckBox::clicked, this, [this](bool checked) {
        RunCommand([this, checked] {
            controller.OnExpertModeClicked(checked);
            return true;
        });
    });
    return top;
}

bool cMainWindow::RunCommand(const std::function<bool()>& command) {
    if (busy)
        return false;
    busy = true;
    // The reason line speaks of the last command only: an old failure's reason goes now, and
    // this command's steps, notices or reason take its place.
    statusPane->clear();
    bool ok = false;
    {
        // Keeps the window from taking clicks while a transfer repaints it.
        struct Guard {
            bool& flag;
            ~Guard() { flag = false; }
        } guard{busy};
        ok = command();
    }
    ShowState();
    return ok;
}

bool cMainWindow::RunMachineCommand(const std::function<bool()>& command) {
    const bool ok = RunCommand(command);
    if (auto* history = dynamic_cast<cHistoryJournal*>(controller.Journal()))
        history->SyncSoon();
    // A machine command without any adapter ends without a message box; say why here.
    if (!ok && !busy && !controller.Ports().AdapterPresent())
        statusPane->setText(QString::fromStdString(Translate("Kein Adapter gefunden")));
    return ok;
}

void cMainWindow::ShowState() {
    updating = true;
    configBox->setText(QString::fromStdString(controller.ConfigName()));

    const auto& ports = controller.Ports().Ports();
    portList->clear();
    for (const std::string& port : ports)
        portList->addItem(QString::fromStdString(port));
    portList->setCurrentIndex(controller.Ports().Selection());
    portList->setEnabled(controller.Ports().ListEnabled());

    writeButton->setEnabled(controller.Controls().writeButtonEnabled);
    setList->setCurrentIndex(controller.Controls().setListSelection);
    setList->setEnabled(controller.Controls().setListEnabled);
    expertBox->setChecked(controller.Controls().expertChecked);
    expertBox->setEnabled(controller.Controls().expertBoxEnabled);
    updating = false;

    const QString approval = QString::fromStdString(controller.ApprovalText()).toHtmlEscaped();
    const bool deviates = !controller.ApprovalDifferences().empty();
    // A deviation is a link: one click opens the comparison.
    const QString shown = deviates ? QString("<a href=\"diff\">%1</a>").arg(approval) : approval;
    approvalPane->setText(shown);
    approvalPane->setToolTip(
        deviates ? QString::fromStdString(Translate("Klick zeigt die abweichenden Felder")) : "");
    approvalPane->setVisible(!approval.isEmpty());

    if (SheetView* view = sheet.View())
        view->ShowAllPages();
    overview->update();
}

void cMainWindow::OnLanguageChosen(int id) {
    if (busy)
        return;
    if (controller.OnLanguageChosen(id)) {
        closing = true;
        done(QDialog::Rejected);
    }
}

void cMainWindow::reject() {
    if (busy)
        return;
    if (!closing && !controller.OnCloseRequest())
        return;
    closing = true;
    QDialog::reject();
}

bool cMainWindow::CloseWithoutAsking() {
    if (busy)
        return false;
    closing = true;
    QDialog::reject();
    return true;
}

void cMainWindow::closeEvent(QCloseEvent* event) {
    if (busy) {
        event->ignore();
        return;
    }
    if (!closing && !controller.OnCloseRequest()) {
        event->ignore();
        return;
    }
    closing = true;
    QDialog::closeEvent(event);
}

void cMainWindow::keyPressEvent(QKeyEvent* event) {
    // The hidden default button: Enter does nothing.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void cMainWindow::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName("about");
    setWindowTitle("Info über Torvex Kelvane");
    auto* layout = new QGridLayout(this);
    auto* icon = new QLabel;
    icon->setPixmap(ProgramIcon().pixmap(48, 48));
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    versionLine = new QLabel(QString::fromStdString(
        TitleVersionText(Translate("Torvex Kelvane"), Translate("Version"))));
    versionLine->setObjectName("versionLine");
    layout->addWidget(versionLine, 0, 1);
    layout->addWidget(new QLabel("Service- und Parametrierprogramm für Akku-Schrauber"), 1, 1);
    auto* ok = new QPushButton("OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, 2);
    TranslateWindow(this);
}
