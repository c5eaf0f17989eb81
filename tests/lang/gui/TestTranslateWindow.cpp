#include "lang/Language.h"
#include "lang/gui/TranslateWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtTest>

class TestTranslateWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    void WriteLanguage(const QString& name, const QList<QPair<QString, QString>>& entries) {
        QFile f(dir_.filePath(name + ".csv"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QString text;
        for (const auto& [de, tr] : entries)
            text += QString::fromStdString(DigestToHex(TextDigest(de.toStdU16String()))) + "\t" +
                    tr + "\r\n";
        QByteArray bytes("\xFF\xFE", 2);
        bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        f.write(bytes);
    }

private slots:
    void initTestCase() {
        WriteLanguage("german", {});
        WriteLanguage("english", {{"Laden", "Load"},
                                  {"Konfiguration", "Configuration"},
                                  {"Übertragung", "Transfer"},
                                  {"von Maschine", "from machine"},
                                  {"Expertenmodus", "Expert mode"},
                                  {"Rechtslauf", "Clockwise"},
                                  {"Linkslauf", "Counter-clockwise"},
                                  {"Kopfdaten", "Header data"},
                                  {"Programmschritt", "Program step"},
                                  {"Torvex Kelvane Rev.4", "Torvex Kelvane Rev.4 (en)"}});
        SetLanguageFolder(dir_.path().toStdString() + "/");
        QVERIFY(SetLanguage("german").Ok());
        QVERIFY(SetLanguage("english").Ok());
    }

    void translatesEveryKindOfControl() {
        QMainWindow window;
        window.setWindowTitle("Torvex Kelvane Rev.4");
        QMenu* menu = window.menuBar()->addMenu("Konfiguration");
        QAction* load = menu->addAction("Laden");
        menu->addSeparator();
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        auto* group = new QGroupBox("Übertragung");
        auto* button = new QPushButton("von Maschine");
        auto* check = new QCheckBox("Expertenmodus");
        auto* combo = new QComboBox;
        combo->addItems({"Rechtslauf", "Linkslauf"});
        combo->setCurrentIndex(1);
        auto* tabs = new QTabWidget;
        tabs->addTab(new QWidget, "Kopfdaten");
        auto* sheetLabel = new QLabel("Sheet");
        auto* tree = new QTreeWidget;
        auto* item = new QTreeWidgetItem(QStringList{"Programmschritt 3"});
        item->setData(0, Qt::UserRole, 1);
        tree->addTopLevelItem(item);
        for (QWidget* w : {static_cast<QWidget*>(group), static_cast<QWidget*>(button),
                           static_cast<QWidget*>(check), static_cast<QWidget*>(combo),
                           static_cast<QWidget*>(tabs), static_cast<QWidget*>(sheetLabel),
                           static_cast<QWidget*>(tree)})
            layout->addWidget(w);
        window.setCentralWidget(central);

        QVERIFY(TranslateWindow(&window));
        QCOMPARE(window.windowTitle(), QString("Torvex Kelvane Rev.4 (en)"));
        QCOMPARE(menu->title(), QString("Configuration"));
        QCOMPARE(load->text(), QString("Load"));
        QCOMPARE(group->title(), QString("Transfer"));
        QCOMPARE(button->text(), QString("from machine"));
        QCOMPARE(check->text(), QString("Expert mode"));
        QCOMPARE(combo->itemText(0), QString("Clockwise"));
        QCOMPARE(combo->itemText(1), QString("Counter-clockwise"));
        QCOMPARE(combo->currentIndex(), 1);
        QCOMPARE(tabs->tabText(0), QString("Header data"));
        QCOMPARE(sheetLabel->text(), QString("Sheet"));
        QCOMPARE(item->text(0), QString("Program step 3"));

        // A second pass finds the texts handed out before and leaves them as they are.
        QVERIFY(TranslateWindow(&window));
        QCOMPARE(button->text(), QString("from machine"));
    }

    void nullWindowAndEmptyMenu() {
        QVERIFY(!TranslateWindow(nullptr));
        QMenu empty;
        QVERIFY(!TranslateMenu(&empty));
    }
};

QTEST_MAIN(TestTranslateWindow)
#include "TestTranslateWindow.moc"
