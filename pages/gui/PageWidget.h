#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "pages/PageModel.h"

class CNumEdit;
class QLineEdit;
class QGridLayout;
class QLabel;

// Common part of the page views: controls by their ids, enabling and visibility taken from the
// model, the beep with focus for corrected values, and the window creation on first show.
class cPageWidget : public QWidget, public PageView {
    Q_OBJECT
public:
    explicit cPageWidget(QWidget* parent = nullptr);
    ~cPageWidget() override;

    // The model behind the page (uniform access for the sheet).
    PageModel& Page() { return *pageModel; }

    // The control with this id (objectName "c<id>"), nullptr when the page has none.
    QWidget* Control(int id) const;

    void Alarm(int controlId) override;
    // The field's tooltip says it until the field is typed into again; noticed() hands it on
    // to the status bar.
    void Notice(int controlId, const std::string& text) override;

    // German text through the language table.
    static QString T(const char* german);

signals:
    void noticed(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

    // Registers a control; companions (label, unit) follow its visibility and enabling.
    void Register(int id, QWidget* control, std::vector<QWidget*> companions = {});
    // Label, control and unit in one row of a grid.
    QLabel* AddRow(QGridLayout* grid, int row, const char* label, QWidget* control,
                   const char* unit = nullptr, int id = 0);
    void ApplyStates();

    // Sets a number only when the edit does not already read as it: text being typed ("1.")
    // stays as it is.
    void SetNum(CNumEdit* edit, std::int64_t value);
    void SetNum(CNumEdit* edit, double value);
    void SetText(QLineEdit* edit, const std::string& text);

    // Called by the derived view once its model exists.
    void BindModel(PageModel& model);

    // A view built from the host owns its model; it goes after the view is gone.
    void OwnModel(PageModel* model) { ownedModel.reset(model); }

    PageModel* pageModel = nullptr;
    bool updating = false; // true while the view shows the model's values

private:
    std::unique_ptr<PageModel> ownedModel;
    std::map<int, QWidget*> controls;
    std::map<int, std::vector<QWidget*>> companionsOf;
};
