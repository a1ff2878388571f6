// Stand-ins for the application around a Document, shared by tests and
// benchmarks: scripted answers, settings kept in memory (or not at all), and
// posted notices held until the caller delivers them, as the event loop would.
#pragma once

#include "store/Document.h"

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Answers every question as scripted and notes what it was asked and shown.
class ScriptedDocumentUi : public DocumentUi {
public:
    bool askOkCancel(const std::string& text) override {
        questions.push_back(text);
        return okAnswer;
    }
    Answer askYesNoCancel(const std::string& text) override {
        questions.push_back(text);
        return yesNoAnswer;
    }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void setStatusText(const std::string& text) override { status = text; }

    bool okAnswer = true;
    Answer yesNoAnswer = Answer::No;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::string status;
};

// Keys are "section|name".
class MemorySettings : public DocumentSettings {
public:
    int readInt(const std::string& section, const std::string& name, int defaultValue) override {
        auto it = values.find(section + "|" + name);
        return it == values.end() ? defaultValue : it->second;
    }
    void writeInt(const std::string& section, const std::string& name, int value) override {
        values[section + "|" + name] = value;
    }
    std::map<std::string, int> values;
};

// Every read gets the default; nothing written is kept.
class NoSettings : public DocumentSettings {
public:
    int readInt(const std::string&, const std::string&, int defaultValue) override {
        return defaultValue;
    }
    void writeInt(const std::string&, const std::string&, int) override {}
};

// Posted notices wait here until deliver(); while `enabled` is false they are dropped.
class QueueDelivery : public EventDelivery {
public:
    void post(DocumentListener* listener, const DocumentNotice& notice) override {
        if (enabled)
            queue.emplace_back(listener, notice);
    }
    void forget(DocumentListener* listener) override {
        std::erase_if(queue, [&](const auto& q) { return q.first == listener; });
    }
    void deliver() {
        while (!queue.empty()) {
            auto [listener, notice] = queue.front();
            queue.pop_front();
            listener->documentEvent(notice);
        }
    }

    bool enabled = true;
    std::deque<std::pair<DocumentListener*, DocumentNotice>> queue;
};
