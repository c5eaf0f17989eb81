#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "pages/gui/NumEdit.h"
#include "tests/pages/PageFakes.h"
#include "tests/pages/gui/PageSamples.h"

namespace {

template <class W> W* Find(QWidget& page, int id) {
    auto* w = page.findChild<W*>(QStringLiteral("c%1").arg(id));
    if (!w)
        qFatal("control %d missing", id);
    return w;
}

void ShowActive(QWidget& w) {
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

// Types into an edit and leaves it, as the user does with the tab key.
void TypeAndLeave(QLineEdit* edit, const QString& text, QWidget* next) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    next->setFocus();
}

} // namespace

class TestPageWidgets : public QObject {
    Q_OBJECT
private slots:
    // The real widgets of every page, each control given the focus and left again, the page
    // left and stored: the image keeps every byte, also where the conversions lose (speed 2000
    // reads 92 1/min), where values lie outside the pages' ranges and in read-only mode.
    void shownAndLeftPagesKeepEveryByte() {
        for (bool readOnly : {false, true}) {
            FakeHost host;
            PageSample sample;
            StepRecord odd = sample.image.Step(1);
            odd.SetControlled(1);
            odd.SetCondition(kCondThreshold); // never controlled on a page
            odd.SetSpeed(7);                  // faster than the battery allows
            odd.SetThreshold(90);             // below the range
            odd.SetCurrent(1239);
            sample.image.SetUserTransmission(5); // below the expert page's range
            sample.image.SetClutchLimitFlags(1); // stored back as 3 by a page that is edited
            sample.image.SetTorque(65535);       // 655.35 Nm, above the page's 655
            sample.image.bytes[ParameterBlock::kOffToolId + 3] = 0; // text, then hidden bytes
            const ParameterBlock before = sample.image;
            cDialogHeader header(host);
            cDialogPrgStep step0(host), step1(host);
            cDialogMaintenceData maintenance(host);
            cDialogExpert expert(host);
            sample.Bind(header);
            sample.Bind(step0, 0);
            sample.Bind(step1, 1);
            sample.Bind(maintenance);
            sample.Bind(expert);
            for (cPageWidget* page : std::initializer_list<cPageWidget*>{&header, &step0, &step1,
                                                                         &maintenance, &expert}) {
                page->Page().SetView(page);
                if (readOnly) {
                    header.Model().SetReadOnly(true);
                    step0.Model().SetReadOnly(true);
                    step1.Model().SetReadOnly(true);
                    maintenance.Model().SetReadOnly(true);
                    expert.Model().SetReadOnly(true);
                }
                ShowActive(*page);
                page->Page().LoadFromRecord();
                for (QWidget* w : page->findChildren<QWidget*>())
                    if (w->isEnabled() && w->isVisible() && w->focusPolicy() != Qt::NoFocus) {
                        w->setFocus();
                        QApplication::processEvents();
                    }
                page->setFocus();
                QVERIFY2(page->Page().LeavePage(), qPrintable(page->objectName()));
                page->Page().StoreToRecord();
                page->hide();
            }
            for (size_t i = 0; i < ParameterBlock::kSize; ++i)
                QVERIFY2(sample.image.bytes[i] == before.bytes[i],
                         qPrintable(QStringLiteral("byte %1: %2 -> %3, read-only %4")
                                        .arg(i)
                                        .arg(before.bytes[i])
                                        .arg(sample.image.bytes[i])
                                        .arg(readOnly)));
            QCOMPARE(host.changed, 0);
        }
    }

    void aLeftSpeedShowsWhatTheMachineHolds() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 0);
        ShowActive(page);
        auto* speed = Find<CNumEdit>(page, PrgStepModel::kIdSpeed);
        TypeAndLeave(speed, "700", Find<QWidget>(page, PrgStepModel::kIdAngle));
        QCOMPARE(speed->text(), QString("699"));
        QCOMPARE(sample.image.Step(0).Speed(), 262);
    }

    // The page says once why the field shows another value than typed; typing again takes
    // the word back.
    void aLeftFieldSaysWhyItChanged() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 0);
        ShowActive(page);
        QStringList said;
        connect(&page, &cPageWidget::noticed, this, [&](const QString& t) { said << t; });
        auto* speed = Find<CNumEdit>(page, PrgStepModel::kIdSpeed);
        auto* angle = Find<QWidget>(page, PrgStepModel::kIdAngle);
        TypeAndLeave(speed, "700", angle);
        QCOMPARE(said, QStringList{"nächster speicherbarer Wert: 699 1/Min"});
        QCOMPARE(speed->toolTip(), said.front());
        TypeAndLeave(speed, "699", angle);
        QCOMPARE(said.size(), 1);
        QVERIFY(speed->toolTip().isEmpty());
    }

    void stepSpeedIsLimitedWhileTyping() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 0);
        ShowActive(page);
        auto* speed = Find<CNumEdit>(page, PrgStepModel::kIdSpeed);
        QCOMPARE(speed->text(), QString("92"));
        speed->setFocus();
        speed->selectAll();
        QTest::keyClicks(speed, "2000");
        QCOMPARE(speed->text(), QString("1236"));
        QCOMPARE(sample.image.Step(0).Speed(), SpeedToMachine(page.Model().Context(), 1236, true));
        QVERIFY(host.redraws > 0);
        QVERIFY(host.changed > 0);
    }

    void stepThresholdConditionSwitchesUnit() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 0);
        ShowActive(page);
        auto* cond = Find<QComboBox>(page, PrgStepModel::kIdCondition);
        cond->setFocus();
        QTest::keyClick(cond, Qt::Key_Down); // angle -> time
        QTest::keyClick(cond, Qt::Key_Down); // time -> threshold
        QCOMPARE(cond->currentIndex(), int(PrgStepModel::kPosThreshold));
        QVERIFY(!Find<QCheckBox>(page, PrgStepModel::kIdControlled)->isChecked());
        QVERIFY(!Find<QCheckBox>(page, PrgStepModel::kIdControlled)->isEnabled());
        auto* unit = page.findChild<QLabel*>(QStringLiteral("c%1").arg(PrgStepModel::kIdSpeedUnit));
        QVERIFY(unit);
        QCOMPARE(unit->text(), QString("%"));
        QCOMPARE(sample.image.Step(0).Controlled(), 0);
    }

    void stepThresholdBelowMinimumComesBack() {
        FakeHost host;
        PageSample sample;
        sample.image.Step(1).SetCondition(kCondThreshold);
        sample.image.Step(1).SetControlled(0);
        sample.image.Step(1).SetSpeed(512);
        cDialogPrgStep page(host);
        sample.Bind(page, 1);
        ShowActive(page);
        auto* thr = Find<CNumEdit>(page, PrgStepModel::kIdThreshold);
        QVERIFY(thr->isEnabled());
        TypeAndLeave(thr, "0", Find<QWidget>(page, PrgStepModel::kIdSpeed));
        QCOMPARE(thr->text(), QString("1.000000"));
        QCOMPARE(Find<CNumEdit>(page, PrgStepModel::kIdErrThreshold)->GetReal(), 1.0);
        QCOMPARE(sample.image.Step(1).Threshold(), 101);
    }

    void rampTypedKeepsItsNumber() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 0);
        ShowActive(page);
        auto* ramp = Find<QComboBox>(page, PrgStepModel::kIdRamp);
        ramp->lineEdit()->setFocus();
        ramp->lineEdit()->selectAll();
        QTest::keyClicks(ramp->lineEdit(), "0.55s");
        QCOMPARE(ramp->currentText(), QString("0.55"));
        QVERIFY(page.Page().LeavePage());
        QCOMPARE(sample.image.Step(0).Ramp(), 55);
    }

    void modelOutlivesItsView() {
        FakeHost host;
        PageSample sample;
        PrgStepModel model(host);
        {
            cDialogPrgStep first(model);
            sample.Bind(first, 0);
            ShowActive(first);
        }
        model.SetReadOnly(true);
        model.LoadFromRecord(); // no view any more: nothing to call
        cDialogPrgStep second(model);
        QCOMPARE(Find<CNumEdit>(second, PrgStepModel::kIdSpeed)->text(), QString("92"));
        QVERIFY(!Find<CNumEdit>(second, PrgStepModel::kIdSpeed)->isEnabled());
    }

    void errorGroupFollowsTheOption() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 0);
        ShowActive(page);
        auto* group = Find<QGroupBox>(page, PrgStepModel::kIdErrGroup);
        QVERIFY(!group->isVisible());
        page.Model().ShowErrorCriteria(true);
        QVERIFY(group->isVisible());
        QVERIFY(Find<QCheckBox>(page, PrgStepModel::kIdErrTimeMaxBox)->isChecked());
        QVERIFY(!Find<QWidget>(page, PrgStepModel::kIdCurrent)->isVisible());
    }

    void forcedLastStepCannotBeUnchecked() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 4);
        ShowActive(page);
        auto* last = Find<QCheckBox>(page, PrgStepModel::kIdLastStep);
        QVERIFY(last->isChecked());
        QVERIFY(!last->isEnabled());
        QCOMPARE(sample.image.Step(4).NextStep(), kNextStepLast);
    }

    void headerToolIdReachesTheImage() {
        FakeHost host;
        PageSample sample;
        cDialogHeader page(host);
        sample.Bind(page);
        ShowActive(page);
        QCOMPARE(Find<QLineEdit>(page, HeaderModel::kMaxSpeed)->text(), QString("1236"));
        QCOMPARE(Find<QLineEdit>(page, HeaderModel::kMaxTorque)->text(), QString("25.5"));
        auto* id = Find<QLineEdit>(page, HeaderModel::kToolId);
        id->setFocus();
        id->selectAll();
        QTest::keyClicks(id, "Station 9 Nord Ost"); // 17 characters: two refused
        QCOMPARE(id->text(), QString("Station 9 Nord "));
        page.Model().StoreToRecord();
        QCOMPARE(sample.image.ToolId(), std::string("Station 9 Nord "));
        QVERIFY(host.changed > 0);
    }

    void maintenanceTorqueLimitedOnLeaving() {
        FakeHost host;
        PageSample sample;
        cDialogMaintenceData page(host);
        sample.Bind(page);
        ShowActive(page);
        QCOMPARE(Find<QLineEdit>(page, MaintenanceModel::kSinceService)->text(), QString("234"));
        auto* torque = Find<CNumEdit>(page, MaintenanceModel::kTorque);
        TypeAndLeave(torque, "700", Find<QWidget>(page, MaintenanceModel::kPlace));
        QCOMPARE(torque->text(), QString("655.000000"));
        QCOMPARE(QApplication::focusWidget(), torque);
        QTest::mouseClick(Find<QPushButton>(page, MaintenanceModel::kReset), Qt::LeftButton);
        QCOMPARE(Find<QLineEdit>(page, MaintenanceModel::kSinceService)->text(), QString("0"));
        QVERIFY(page.Model().LeavePage());
        QCOMPARE(sample.image.Torque(), 65500);
        QCOMPARE(sample.image.ServiceResetCounter(), 1234u);
    }

    void expertFactorCorrectedOnLeaving() {
        FakeHost host;
        PageSample sample;
        cDialogExpert page(host);
        sample.Bind(page);
        ShowActive(page);
        auto* factor = Find<CNumEdit>(page, ExpertModel::kUserFactor);
        TypeAndLeave(factor, "0.05", Find<QWidget>(page, ExpertModel::kRestartIo));
        QCOMPARE(factor->text(), QString("0.100000"));
        auto* io = Find<CNumEdit>(page, ExpertModel::kRestartIo);
        TypeAndLeave(io, "2.35", factor);
        QVERIFY(page.Model().LeavePage());
        page.Model().StoreToRecord();
        QCOMPARE(sample.image.RestartLock(), 23);
        QCOMPARE(sample.image.UserTransmission(), 10);
        QCOMPARE(host.refreshes, 1);
        page.Model().SetExpertEnabled(false);
        QVERIFY(!factor->isEnabled());
    }
};

QTEST_MAIN(TestPageWidgets)
#include "TestPageWidgets.moc"
