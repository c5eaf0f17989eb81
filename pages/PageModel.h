#pragma once

#include <map>
#include <string>

#include "pages/PageHost.h"

// What a page model asks of the widgets that show it (the Qt view, or a test's recorder).
class PageView {
public:
    virtual ~PageView() = default;
    // The model's values or enabling changed: show them all.
    virtual void ShowValues() = 0;
    // A value was replaced by the nearest allowed one: beep (400 Hz, 100 ms) and put the focus
    // back on the control.
    virtual void Alarm(int controlId) = 0;
    // A value left in a field now shows what the image holds, not what was typed: the text
    // says so (status bar, the field's tooltip).
    virtual void Notice(int /*controlId*/, const std::string& /*text*/) {}
};

// Common part of the page models: the host, the view, whether the page's window exists, and
// the enabled/shown state of the controls by their ids.
class PageModel {
public:
    explicit PageModel(PageHost& host) : host(host) {}
    virtual ~PageModel() = default;
    PageModel(const PageModel&) = delete;
    PageModel& operator=(const PageModel&) = delete;

    void SetView(PageView* v) { view = v; }

    // The page's window is created the first time its tab is shown; until then setters only
    // keep their values and stores do nothing.
    void CreateWindow() {
        if (windowCreated)
            return;
        windowCreated = true;
        OnWindowCreated();
    }
    bool WindowCreated() const { return windowCreated; }

    virtual void LoadFromRecord() = 0;
    virtual void StoreToRecord() = 0;
    // The sheet is about to switch to another tab: false keeps this page (a value was
    // corrected); true means the page has stored its values.
    virtual bool LeavePage() {
        StoreToRecord();
        return true;
    }
    // The page became the active tab.
    virtual void OnActivated() {}

    bool IsEnabled(int id) const {
        auto it = enabled.find(id);
        return it == enabled.end() || it->second;
    }
    bool IsShown(int id) const {
        auto it = shown.find(id);
        return it == shown.end() || it->second;
    }

protected:
    virtual void OnWindowCreated() { LoadFromRecord(); }

    void Enable(int id, bool on) { enabled[id] = on; }
    void Show(int id, bool on) { shown[id] = on; }
    void ShowValuesNow() {
        if (view)
            view->ShowValues();
    }
    void Alarm(int id) {
        if (view)
            view->Alarm(id);
    }
    // The field's value became `held` (number and unit), the nearest the image can hold.
    void SayHeld(int id, const std::string& held);

    PageHost& host;
    PageView* view = nullptr;
    bool windowCreated = false;

private:
    std::map<int, bool> enabled;
    std::map<int, bool> shown;
};
