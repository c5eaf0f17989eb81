// A user interface for window tests: records what the controller shows and answers from a
// script. Header-only: each Qt test is its own program.
#pragma once

#include "app/UserInterface.h"

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

// Records what the controller shows and answers from a script; an unscripted question gets
// "cancel", an unscripted dialog is cancelled.
class RecordingUi : public cUserInterface {
public:
    Answer ShowMessage(const std::string& text, Buttons buttons, Icon) override {
        messages.push_back(text);
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        if (answers.empty())
            return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool AskPassword(std::string& password) override { return Take(passwords, password); }
    bool AskPasswordChange(PasswordChange& entry) override {
        if (changes.empty())
            return false;
        entry = changes.front();
        changes.pop_front();
        return true;
    }
    bool AskOpenFile(const FileRequest&, std::string& path) override { return Take(files, path); }
    bool AskSaveFile(const FileRequest&, std::string& path) override { return Take(files, path); }
    bool AskText(const TextRequest& request, std::string& text) override {
        textQuestions.push_back(request);
        return Take(texts, text);
    }
    void ShowStatus(const std::string& text) override { statusTexts.push_back(text); }
    void ShowProgress(bool) override {}
    void SetProgress(int) override {}
    void OpenDocument(const std::filesystem::path&) override {}

    std::vector<std::string> messages;
    std::vector<std::string> statusTexts;
    std::deque<Answer> answers;
    std::deque<std::string> passwords;
    std::deque<PasswordChange> changes;
    std::deque<std::string> files;
    std::deque<std::string> texts;
    std::vector<TextRequest> textQuestions;

private:
    static bool Take(std::deque<std::string>& queue, std::string& value) {
        if (queue.empty())
            return false;
        value = queue.front();
        queue.pop_front();
        return true;
    }
};
